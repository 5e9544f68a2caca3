// Figures of the manual backup: the data module's BackupBase against Firebird's
// own fbsvcmgr doing the same service action on the same database, on the
// embedded engine, in alternating rounds (the order flips every round so that
// neither side always meets a warm or a cold cache). Prints every round, the
// medians and their ratio; the goal is BackupBase within 3 % of fbsvcmgr: the
// server does the work, and the output loop and the log must add nothing
// measurable.
//
// Usage: backup_bench [--server] [directory [megabytes [rounds]]]
// (defaults: $TMPDIR/quillmoor-bench/, 200, 5). The database is made once in
// the directory and reused by later runs.
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/maintenance_support.h"

int main(int argc, char** argv) {
    using namespace qm;
    const bench::MaintenanceBench b = bench::StartMaintenanceBench("backup", argc, argv);
    std::printf("database %s: %.1f MB (ready in %.1f s)\n", b.db.c_str(), bench::Megabytes(b.db),
                b.madeSeconds);

    bench::BenchDataModule m;
    const TFirebirdBase base = bench::BenchBase(b.db);
    bench::KeptLog log;
    bench::Fbsvcmgr fbsvcmgr(b);
    const std::string ours = b.dir + "bench_ours.fbk";
    const std::string tool = b.dir + "bench_fbsvcmgr.fbk";
    long long archiveSize = -1;

    const auto runOurs = [&] {
        std::filesystem::remove(ours);
        return bench::TimeOurs(log, "BackupBase",
                               [&] { return m.dm.BackupBase(base, ours, &log); });
    };
    // A crash of fbsvcmgr counts when its archive has the full size.
    const auto runTool = [&] {
        std::filesystem::remove(tool);
        return fbsvcmgr.Run({"-action_backup", "-dbname", b.db, "-bkp_file", tool}, false,
                            [&] { return bench::FileSize(tool) == archiveSize; });
    };

    // One untimed run of each: the engine is loaded and the file cached.
    runOurs();
    archiveSize = bench::FileSize(ours);
    runTool();

    const bench::Medians medians =
        bench::AlternateRounds(b.rounds, {"BackupBase", 12, runOurs}, {"fbsvcmgr", 12, runTool});
    bench::PrintRatios("BackupBase", medians, fbsvcmgr.Overhead(), 1, 3, fbsvcmgr.ThroughServer());
    std::printf(
        "archives: %.1f MB (BackupBase), %.1f MB (fbsvcmgr); log lines of the last run: %zu\n",
        bench::Megabytes(ours), bench::Megabytes(tool), log.lines.size());
    fbsvcmgr.ReportCrashes("a complete archive");
    std::filesystem::remove(ours);
    std::filesystem::remove(tool);
    return 0;
}
