// Figures of the optimization: OptimizeBase (backup to a temporary archive,
// restore over the database, deletion of the archive, validation) against the
// same three actions done by Firebird's own fbsvcmgr one after the other on a
// copy of the same database, keeping its page size, on the embedded engine or a server,
// in alternating rounds (the order flips every round so that neither side
// always meets a warm or a cold cache). Prints every round, the medians and
// their ratio; the goal is OptimizeBase within 5 % of the sum of the three.
//
// Usage: optimization_bench [--server] [directory [megabytes [rounds]]]
// (defaults: $TMPDIR/quillmoor-bench/, 200, 5). The database is made once in
// the directory and reused by later runs; the rounds work on copies of it.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/maintenance_support.h"
#include "operations/optimization.h"

int main(int argc, char** argv) {
    using namespace qm;
    const bench::MaintenanceBench b = bench::StartMaintenanceBench("optimization", argc, argv);
    const std::string ours = b.dir + "bench_optimize_ours.fdb";
    const std::string tool = b.dir + "bench_optimize_fbsvcmgr.fdb";
    std::filesystem::copy_file(b.db, ours, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(b.db, tool, std::filesystem::copy_options::overwrite_existing);
    std::printf("database %s: %.1f MB, optimized as two copies\n", b.db.c_str(),
                bench::Megabytes(b.db));

    bench::BenchDataModule m;
    TFirebirdBase base = bench::BenchBase(ours);
    base.ArcDir = b.dir;
    bench::KeptLog log;
    bench::Fbsvcmgr fbsvcmgr(b);
    const std::string toolArchive = b.dir + "bench_optimize_fbsvcmgr.tmp";

    const auto runOurs = [&] {
        const std::string archive = OptimizationArchiveName(base);
        return bench::TimeOurs(log, "OptimizeBase",
                               [&] { return OptimizeBase(m.dm, base, archive, &log); });
    };
    // Each action's crash of fbsvcmgr counts when its work is there.
    const auto runTool = [&] {
        const auto start = bench::Clock::now();
        fbsvcmgr.Run({"-action_backup", "-dbname", tool, "-bkp_file", toolArchive}, false,
                     [&] { return bench::FileSize(toolArchive) > 0; });
        // The database keeps its own page size, as the optimization keeps it.
        fbsvcmgr.Run({"-action_restore", "-bkp_file", toolArchive, "-dbname", tool, "-res_replace"},
                     false, [&] { return bench::FileSize(tool) > 0; });
        std::filesystem::remove(toolArchive);
        fbsvcmgr.Run({"-action_repair", "-dbname", tool, "-rpr_validate_db", "-rpr_full",
                      "-rpr_check_db", "-rpr_kill_shadows"},
                     true, [&] { return bench::FileSize(fbsvcmgr.OutputFile()) == 0; });
        return bench::SecondsSince(start);
    };

    // One untimed run of each: the engine is loaded, and both copies have been
    // rebuilt once, so every timed round starts from the same kind of file.
    runOurs();
    runTool();

    const bench::Medians medians = bench::AlternateRounds(b.rounds, {"OptimizeBase", 13, runOurs},
                                                          {"fbsvcmgr (3 runs)", 18, runTool});
    bench::PrintRatios("OptimizeBase", medians, fbsvcmgr.Overhead(), 3, 5,
                       fbsvcmgr.ThroughServer());
    std::printf("databases after the rounds: %.1f MB (OptimizeBase), %.1f MB (fbsvcmgr)\n",
                bench::Megabytes(ours), bench::Megabytes(tool));
    fbsvcmgr.ReportCrashes("its work was done");
    std::filesystem::remove(ours);
    std::filesystem::remove(tool);
    std::filesystem::remove(toolArchive);
    return 0;
}
