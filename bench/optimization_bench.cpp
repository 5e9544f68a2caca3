// Figures of the optimization: OptimizeBase (backup to a temporary archive,
// restore over the database, deletion of the archive, validation) against the
// same three actions done by Firebird's own fbsvcmgr one after the other on a
// copy of the same database, with the same page size, on the embedded engine,
// in alternating rounds (the order flips every round so that neither side
// always meets a warm or a cold cache). Prints every round, the medians and
// their ratio; the goal is OptimizeBase within 5 % of the sum of the three.
//
// Usage: optimization_bench [directory [megabytes [rounds]]]
// (defaults: $TMPDIR/quillmoor-bench/, 200, 5). The database is made once in
// the directory and reused by later runs; the rounds work on copies of it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_db.h"
#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/component.h"
#include "operations/data_module.h"
#include "operations/optimization.h"
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

double RunOurs(Tdm& dm, const TFirebirdBase& base, KeptLog& log) {
    log.Clear();
    const std::string archive = OptimizationArchiveName(base);
    const auto start = Clock::now();
    const bool ok = OptimizeBase(dm, base, archive, &log);
    const double seconds = bench::SecondsSince(start);
    if (!ok) Fail(log, "OptimizeBase");
    return seconds;
}

// One fbsvcmgr action. fbsvcmgr of Firebird 3 with the embedded engine now and
// then crashes while its engine shuts down, after the work is done; such a run
// counts when `done` says the work is there. Anything else ends the run.
void Tool(const std::vector<std::string>& args, const std::string& dir, bool quiet,
          const std::function<bool()>& done) {
    const std::string out = dir + "fbsvcmgr.out";
    const int rc = Fbsvcmgr(args, out);
    if (Crashed(rc) && done()) {
        ++toolCrashes;
    } else if (rc != 0 || (quiet && bench::FileSize(out) != 0)) {
        std::fprintf(stderr, "fbsvcmgr failed (%d), see %s\n", rc, out.c_str());
        std::exit(1);
    }
}

double RunTool(const std::string& db, const std::string& archive, int pageSize,
               const std::string& dir) {
    const auto start = Clock::now();
    Tool({"-action_backup", "-dbname", db, "-bkp_file", archive}, dir, false,
         [&] { return bench::FileSize(archive) > 0; });
    Tool({"-action_restore", "-bkp_file", archive, "-dbname", db, "-res_replace", "-res_page_size",
          std::to_string(pageSize)},
         dir, false, [&] { return bench::FileSize(db) > 0; });
    std::filesystem::remove(archive);
    Tool({"-action_repair", "-dbname", db, "-rpr_validate_db", "-rpr_full", "-rpr_check_db",
          "-rpr_kill_shadows"},
         dir, true, [&] { return bench::FileSize(dir + "fbsvcmgr.out") == 0; });
    return bench::SecondsSince(start);
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

    std::printf("optimization benchmark: database of about %zu MB in %s, %d rounds\n", megabytes,
                dir.c_str(), rounds);
    std::string db;
    try {
        db = bench::MakeBenchDatabase(dir, megabytes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const std::string ours = dir + "bench_optimize_ours.fdb";
    const std::string tool = dir + "bench_optimize_fbsvcmgr.fdb";
    std::filesystem::copy_file(db, ours, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(db, tool, std::filesystem::copy_options::overwrite_existing);
    std::printf("database %s: %.1f MB, optimized as two copies\n", db.c_str(),
                static_cast<double>(bench::FileSize(db)) / (1024 * 1024));

    TComponent moorquill(nullptr, "Moorquill");
    TSetting setting(false);
    setting.LibraryName = platform::kDefaultClientLibrary;
    setting.SYSDBAPassword = kPassword;
    Tdm dm(&moorquill, setting);
    TFirebirdBase base;
    base.Description = "bench";
    base.DBFile = ours;
    base.ArcDir = dir;
    KeptLog log;
    const std::string toolArchive = dir + "bench_optimize_fbsvcmgr.tmp";
    const std::int32_t cluster = RestorePageSize(GetClusterSize(ours));
    const int pageSize = cluster > 0 ? cluster : 8192;

    // One untimed run of each: the engine is loaded, and both copies have been
    // rebuilt once, so every timed round starts from the same kind of file.
    RunOurs(dm, base, log);
    RunTool(tool, toolArchive, pageSize, dir);

    std::vector<double> oursTimes, toolTimes;
    std::printf("%-6s %13s %18s\n", "round", "OptimizeBase", "fbsvcmgr (3 runs)");
    for (int i = 0; i < rounds; ++i) {
        double a, b;
        if (i % 2 == 0) {
            a = RunOurs(dm, base, log);
            b = RunTool(tool, toolArchive, pageSize, dir);
        } else {
            b = RunTool(tool, toolArchive, pageSize, dir);
            a = RunOurs(dm, base, log);
        }
        oursTimes.push_back(a);
        toolTimes.push_back(b);
        std::printf("%-6d %12.3fs %17.3fs\n", i + 1, a, b);
    }
    const double mOurs = bench::Median(oursTimes);
    const double mTool = bench::Median(toolTimes);
    const double overhead = ToolOverhead(dir);
    const double ratio = mOurs / mTool;
    const double fairRatio = mOurs / (mTool - 3 * overhead);
    std::printf("median %12.3fs %17.3fs\n", mOurs, mTool);
    std::printf("fbsvcmgr start-up and shut-down (a version query): %.3f s, three of them\n",
                overhead);
    std::printf("ratio OptimizeBase / fbsvcmgr: %.3f (%+.1f %%)\n", ratio, (ratio - 1) * 100);
    std::printf(
        "ratio OptimizeBase / (fbsvcmgr - start-ups): %.3f (%+.1f %%; goal within 5 %%: %s)\n",
        fairRatio, (fairRatio - 1) * 100, fairRatio <= 1.05 ? "met" : "not met");
    std::printf("databases after the rounds: %.1f MB (OptimizeBase), %.1f MB (fbsvcmgr)\n",
                static_cast<double>(bench::FileSize(ours)) / (1024 * 1024),
                static_cast<double>(bench::FileSize(tool)) / (1024 * 1024));
    if (toolCrashes > 0)
        std::printf("fbsvcmgr crashed at exit in %d run(s), each after its work was done\n",
                    toolCrashes);
    std::filesystem::remove(ours);
    std::filesystem::remove(tool);
    std::filesystem::remove(toolArchive);
    return 0;
}
