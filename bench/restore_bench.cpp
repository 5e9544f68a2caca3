// Figures of the restore: the data module's RestoreBase against Firebird's own
// fbsvcmgr restoring the same archive over an existing database with the same
// page size, on the embedded engine, in alternating rounds (the order flips
// every round so that neither side always meets a warm or a cold cache).
// Prints every round, the medians and their ratio; the goal is RestoreBase
// within 3 % of fbsvcmgr. RestoreBase does a little more than the tool: it
// builds the database beside the target, checks that the server brought it
// online, and renames it into place; the figures show what that costs.
//
// Usage: restore_bench [directory [megabytes [rounds]]]
// (defaults: $TMPDIR/quillmoor-bench/, 200, 5). The database is made once in
// the directory and reused by later runs.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_db.h"
#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/component.h"
#include "operations/data_module.h"
#include "platform/platform.h"

namespace {

using namespace qm;
using bench::Clock;

// Keeps the lines as a dialog's view would, without drawing them.
class KeptLog final : public ILogView {
public:
    void Clear() override { lines.clear(); }
    void AddLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

constexpr const char* kPassword = "masterkey";
// fbsvcmgr ends with 128 + the signal's number when it crashes (RunProgram
// answers -1 for a tool killed outright).
bool Crashed(int rc) { return rc == 128 + 11 || rc == -1; }
int toolCrashes = 0;

void Fail(const KeptLog& log, const char* what) {
    for (const std::string& l : log.lines) std::fprintf(stderr, "%s\n", l.c_str());
    std::fprintf(stderr, "%s failed\n", what);
    std::exit(1);
}

int Fbsvcmgr(const std::vector<std::string>& args, const std::string& out) {
    std::vector<std::string> argv = {bench::kFbsvcmgr, "service_mgr", "-user",
                                     "sysdba",         "-password",   kPassword};
    argv.insert(argv.end(), args.begin(), args.end());
    return bench::RunProgram(argv, out);
}

double RunOurs(Tdm& dm, const std::string& archive, const std::string& target, KeptLog& log) {
    log.Clear();
    const auto start = Clock::now();
    const bool ok = dm.RestoreBase(archive, target, &log);
    const double seconds = bench::SecondsSince(start);
    if (!ok) Fail(log, "RestoreBase");
    return seconds;
}

// fbsvcmgr of Firebird 3 with the embedded engine now and then crashes while
// its engine shuts down, after the work is done. Such a run counts when the
// database has the size of a complete restore; anything else ends the run.
double RunTool(const std::string& archive, const std::string& target, int pageSize,
               const std::string& dir, long long expectedSize) {
    const std::string out = dir + "fbsvcmgr.out";
    const auto start = Clock::now();
    const int rc = Fbsvcmgr({"-action_restore", "-bkp_file", archive, "-dbname", target,
                             "-res_replace", "-res_page_size", std::to_string(pageSize)},
                            out);
    const double seconds = bench::SecondsSince(start);
    if (Crashed(rc) && (expectedSize < 0 || bench::FileSize(target) == expectedSize)) {
        ++toolCrashes;
    } else if (rc != 0) {
        std::fprintf(stderr, "fbsvcmgr failed (%d), see %s\n", rc, out.c_str());
        std::exit(1);
    }
    return seconds;
}

// What fbsvcmgr spends on starting, loading the engine and ending, measured
// with an action that does no work: asking the server's version.
double ToolOverhead(const std::string& dir) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        const int rc = Fbsvcmgr({"-info_server_version"}, dir + "fbsvcmgr.out");
        if (rc == 0 || Crashed(rc)) times.push_back(bench::SecondsSince(start));
    }
    return bench::Median(times);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir =
        argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "quillmoor-bench").string();
    if (dir.back() != '/') dir += '/';
    const std::size_t megabytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 200;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    std::filesystem::create_directories(dir);

    std::printf("restore benchmark: database of about %zu MB in %s, %d rounds\n", megabytes,
                dir.c_str(), rounds);
    std::string db;
    try {
        db = bench::MakeBenchDatabase(dir, megabytes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    TComponent moorquill(nullptr, "Moorquill");
    TSetting setting(false);
    setting.LibraryName = platform::kDefaultClientLibrary;
    setting.SYSDBAPassword = kPassword;
    Tdm dm(&moorquill, setting);
    KeptLog log;

    const std::string archive = dir + "bench_restore.fbk";
    TFirebirdBase base;
    base.Description = "bench";
    base.DBFile = db;
    if (!dm.BackupBase(base, archive, &log)) Fail(log, "BackupBase");
    const std::string ours = dir + "bench_restore_ours.fdb";
    const std::string tool = dir + "bench_restore_fbsvcmgr.fdb";
    const std::int32_t pageSize = RestorePageSize(GetClusterSize(ours));
    std::printf("database %.1f MB, archive %.1f MB, page size asked for %d\n",
                static_cast<double>(bench::FileSize(db)) / (1024 * 1024),
                static_cast<double>(bench::FileSize(archive)) / (1024 * 1024), pageSize);

    // One untimed run of each: the engine is loaded, the archive cached and
    // both targets exist, so every timed run replaces a database.
    RunOurs(dm, archive, ours, log);
    RunTool(archive, tool, pageSize > 0 ? pageSize : 8192, dir, -1);

    std::vector<double> oursTimes, toolTimes;
    std::printf("%-6s %12s %12s\n", "round", "RestoreBase", "fbsvcmgr");
    for (int i = 0; i < rounds; ++i) {
        double a, b;
        const long long size = bench::FileSize(ours);
        if (i % 2 == 0) {
            a = RunOurs(dm, archive, ours, log);
            b = RunTool(archive, tool, pageSize > 0 ? pageSize : 8192, dir, size);
        } else {
            b = RunTool(archive, tool, pageSize > 0 ? pageSize : 8192, dir, size);
            a = RunOurs(dm, archive, ours, log);
        }
        oursTimes.push_back(a);
        toolTimes.push_back(b);
        std::printf("%-6d %11.3fs %11.3fs\n", i + 1, a, b);
    }
    const double mOurs = bench::Median(oursTimes);
    const double mTool = bench::Median(toolTimes);
    const double overhead = ToolOverhead(dir);
    const double ratio = mOurs / mTool;
    const double fairRatio = mOurs / (mTool - overhead);
    std::printf("median %11.3fs %11.3fs\n", mOurs, mTool);
    std::printf("fbsvcmgr start-up and shut-down (a version query): %.3f s\n", overhead);
    std::printf("ratio RestoreBase / fbsvcmgr: %.3f (%+.1f %%)\n", ratio, (ratio - 1) * 100);
    std::printf(
        "ratio RestoreBase / (fbsvcmgr - start-up): %.3f (%+.1f %%; goal within 3 %%: %s)\n",
        fairRatio, (fairRatio - 1) * 100, fairRatio <= 1.03 ? "met" : "not met");
    std::printf("databases: %.1f MB (RestoreBase), %.1f MB (fbsvcmgr)\n",
                static_cast<double>(bench::FileSize(ours)) / (1024 * 1024),
                static_cast<double>(bench::FileSize(tool)) / (1024 * 1024));
    if (toolCrashes > 0)
        std::printf("fbsvcmgr crashed at exit in %d run(s), each after a complete restore\n",
                    toolCrashes);
    std::filesystem::remove(archive);
    std::filesystem::remove(ours);
    std::filesystem::remove(tool);
    return 0;
}
