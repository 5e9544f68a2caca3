// Figures of the validation: the data module's ValidationBase against
// Firebird's own fbsvcmgr running the same repair action with the same options
// (validate, full, check, kill shadows) on the same database, on the embedded
// engine, in alternating rounds (the order flips every round so that neither
// side always meets a warm or a cold cache). Prints every round, the medians
// and their ratio; the goal is ValidationBase within 3 % of fbsvcmgr.
//
// Usage: validation_bench [--server] [directory [megabytes [rounds]]]
// (defaults: $TMPDIR/quillmoor-bench/, 200, 5). The database is made once in
// the directory and reused by later runs.
#include <cstdio>
#include <string>

#include "bench/maintenance_support.h"

int main(int argc, char** argv) {
    using namespace qm;
    const bench::MaintenanceBench b = bench::StartMaintenanceBench("validation", argc, argv);
    std::printf("database %s: %.1f MB\n", b.db.c_str(), bench::Megabytes(b.db));

    bench::BenchDataModule m;
    const TFirebirdBase base = bench::BenchBase(b.db);
    bench::KeptLog log;
    bench::Fbsvcmgr fbsvcmgr(b);

    const auto runOurs = [&] {
        return bench::TimeOurs(log, "ValidationBase",
                               [&] { return m.dm.ValidationBase(base, &log); });
    };
    // A sound database makes fbsvcmgr print nothing; a crash of it counts when
    // it printed nothing.
    const auto runTool = [&] {
        return fbsvcmgr.Run({"-action_repair", "-dbname", b.db, "-rpr_validate_db", "-rpr_full",
                             "-rpr_check_db", "-rpr_kill_shadows"},
                            true, [&] { return bench::FileSize(fbsvcmgr.OutputFile()) == 0; });
    };

    // One untimed run of each: the engine is loaded and the file cached.
    runOurs();
    runTool();

    const bench::Medians medians = bench::AlternateRounds(b.rounds, {"ValidationBase", 14, runOurs},
                                                          {"fbsvcmgr", 12, runTool});
    bench::PrintRatios("ValidationBase", medians, fbsvcmgr.Overhead(), 1, 3,
                       fbsvcmgr.ThroughServer());
    fbsvcmgr.ReportCrashes("a complete check");
    return 0;
}
