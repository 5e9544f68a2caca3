// Figures of the restore: the data module's RestoreBase against Firebird's own
// fbsvcmgr restoring the same archive over an existing database with the same
// page size, on the embedded engine, in alternating rounds (the order flips
// every round so that neither side always meets a warm or a cold cache).
// Prints every round, the medians and their ratio; the goal is RestoreBase
// within 3 % of fbsvcmgr. RestoreBase does a little more than the tool: it
// builds the database beside the target, checks that the server brought it
// online, and renames it into place; the figures show what that costs.
//
// Usage: restore_bench [--server] [directory [megabytes [rounds]]]
// (defaults: $TMPDIR/quillmoor-bench/, 200, 5). The database is made once in
// the directory and reused by later runs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/maintenance_support.h"

int main(int argc, char** argv) {
    using namespace qm;
    const bench::MaintenanceBench b = bench::StartMaintenanceBench("restore", argc, argv);

    bench::BenchDataModule m;
    bench::KeptLog log;
    bench::Fbsvcmgr fbsvcmgr(b);
    const std::string archive = b.dir + "bench_restore.fbk";
    if (!m.dm.BackupBase(bench::BenchBase(b.db), archive, &log)) bench::Fail(log, "BackupBase");
    const std::string ours = b.dir + "bench_restore_ours.fdb";
    const std::string tool = b.dir + "bench_restore_fbsvcmgr.fdb";
    const std::int32_t pageSize = RestorePageSize(GetClusterSize(ours), ArchivePageSize(archive));
    std::printf("database %.1f MB, archive %.1f MB, page size asked for %d\n",
                bench::Megabytes(b.db), bench::Megabytes(archive), pageSize);

    const auto runOurs = [&] {
        return bench::TimeOurs(log, "RestoreBase",
                               [&] { return m.dm.RestoreBase(archive, ours, &log); });
    };
    // A crash of fbsvcmgr counts when the database has the size of a complete
    // restore, which RestoreBase has made by the first timed round.
    bool warm = false;
    const auto runTool = [&] {
        const long long expectedSize = warm ? bench::FileSize(ours) : -1;
        return fbsvcmgr.Run(
            {"-action_restore", "-bkp_file", archive, "-dbname", tool, "-res_replace",
             "-res_page_size", std::to_string(pageSize > 0 ? pageSize : 8192)},
            false, [&] { return expectedSize < 0 || bench::FileSize(tool) == expectedSize; });
    };

    // One untimed run of each: the engine is loaded, the archive cached and
    // both targets exist, so every timed run replaces a database.
    runOurs();
    runTool();
    warm = true;

    const bench::Medians medians =
        bench::AlternateRounds(b.rounds, {"RestoreBase", 12, runOurs}, {"fbsvcmgr", 12, runTool});
    bench::PrintRatios("RestoreBase", medians, fbsvcmgr.Overhead(), 1, 3, fbsvcmgr.ThroughServer());
    std::printf("databases: %.1f MB (RestoreBase), %.1f MB (fbsvcmgr)\n", bench::Megabytes(ours),
                bench::Megabytes(tool));
    fbsvcmgr.ReportCrashes("a complete restore");
    std::filesystem::remove(archive);
    std::filesystem::remove(ours);
    std::filesystem::remove(tool);
    return 0;
}
