// Figures of the service's archive job without ZIP (TArchiveJob) against
// Firebird's own fbsvcmgr making the same backup of the same database on the
// embedded engine, in alternating rounds. The goal: within 3 % of fbsvcmgr,
// since the server does the work and the job adds a probe of the route, a
// rename and the log.
//
// Usage: archive_bench [--server] [directory [megabytes [rounds]]]
// (defaults: $TMPDIR/quillmoor-bench/, 200, 5).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archiver/archive_job.h"
#include "archiver/event_log.h"
#include "archiver/system.h"
#include "bench/maintenance_support.h"
#include "firebird/server_route.h"

int main(int argc, char** argv) {
    using namespace qm;
    archiver::UseSystemLocale();
    const bench::MaintenanceBench b = bench::StartMaintenanceBench("archive job", argc, argv);
    std::printf("database %s: %.1f MB (ready in %.1f s)\n", b.db.c_str(), bench::Megabytes(b.db),
                b.madeSeconds);

    TSetting setting(false);
    setting.LibraryName = platform::kDefaultClientLibrary;
    setting.SYSDBAPassword = bench::kPassword;
    TFirebirdBase base = bench::BenchBase(b.db);
    base.ArcDir = b.dir + "archive_bench/";
    std::filesystem::create_directories(base.ArcDir);
    archiver::TEventLog log(b.dir + "archive_bench.log");
    bench::Fbsvcmgr fbsvcmgr(b);
    const std::string tool = b.dir + "bench_fbsvcmgr.fbk";
    long long archiveSize = -1;

    std::string made;
    const auto runOurs = [&] {
        std::filesystem::remove_all(base.ArcDir);
        std::filesystem::create_directories(base.ArcDir);
        const auto start = bench::Clock::now();
        archiver::TArchiveJob job(base, setting, log);
        const archiver::TJobResult r = job.Run("benchmark");
        const double seconds = bench::SecondsSince(start);
        if (!r.Ok) {
            std::fprintf(stderr, "the archive job failed, see %sarchive_bench.log\n",
                         b.dir.c_str());
            std::exit(1);
        }
        made = r.Archive;
        return seconds;
    };
    const auto runTool = [&] {
        std::filesystem::remove(tool);
        return fbsvcmgr.Run({"-action_backup", "-dbname", b.db, "-bkp_file", tool}, false,
                            [&] { return bench::FileSize(tool) == archiveSize; });
    };

    runOurs();
    archiveSize = bench::FileSize(made);
    runTool();

    const bench::Medians medians =
        bench::AlternateRounds(b.rounds, {"archive job", 12, runOurs}, {"fbsvcmgr", 12, runTool});
    bench::PrintRatios("archive job", medians, fbsvcmgr.Overhead(), 1, 3, fbsvcmgr.ThroughServer());
    std::printf("archives: %.1f MB (archive job), %.1f MB (fbsvcmgr)\n", bench::Megabytes(made),
                bench::Megabytes(tool));
    fbsvcmgr.ReportCrashes("a complete archive");
    std::filesystem::remove_all(base.ArcDir);
    std::filesystem::remove(tool);
    return 0;
}
