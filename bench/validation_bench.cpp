// Figures of the validation: the data module's ValidationBase against
// Firebird's own fbsvcmgr running the same repair action with the same options
// (validate, full, check, kill shadows) on the same database, on the embedded
// engine, in alternating rounds (the order flips every round so that neither
// side always meets a warm or a cold cache). Prints every round, the medians
// and their ratio; the goal is ValidationBase within 3 % of fbsvcmgr.
//
// Usage: validation_bench [directory [megabytes [rounds]]]
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

double RunOurs(Tdm& dm, const TFirebirdBase& base, KeptLog& log) {
    log.Clear();
    const auto start = Clock::now();
    const bool ok = dm.ValidationBase(base, &log);
    const double seconds = bench::SecondsSince(start);
    if (!ok) Fail(log, "ValidationBase");
    return seconds;
}

// fbsvcmgr of Firebird 3 with the embedded engine now and then crashes while
// its engine shuts down, after the work is done; such a run counts when it
// printed nothing (a sound database). Anything else ends the run.
double RunTool(const std::string& db, const std::string& dir) {
    const std::string out = dir + "fbsvcmgr.out";
    const auto start = Clock::now();
    const int rc = Fbsvcmgr({"-action_repair", "-dbname", db, "-rpr_validate_db", "-rpr_full",
                             "-rpr_check_db", "-rpr_kill_shadows"},
                            out);
    const double seconds = bench::SecondsSince(start);
    if (Crashed(rc) && bench::FileSize(out) == 0) {
        ++toolCrashes;
    } else if (rc != 0 || bench::FileSize(out) != 0) {
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

    std::printf("validation benchmark: database of about %zu MB in %s, %d rounds\n", megabytes,
                dir.c_str(), rounds);
    std::string db;
    try {
        db = bench::MakeBenchDatabase(dir, megabytes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::printf("database %s: %.1f MB\n", db.c_str(),
                static_cast<double>(bench::FileSize(db)) / (1024 * 1024));

    TComponent moorquill(nullptr, "Moorquill");
    TSetting setting(false);
    setting.LibraryName = platform::kDefaultClientLibrary;
    setting.SYSDBAPassword = kPassword;
    Tdm dm(&moorquill, setting);
    TFirebirdBase base;
    base.Description = "bench";
    base.DBFile = db;
    KeptLog log;

    // One untimed run of each: the engine is loaded and the file cached.
    RunOurs(dm, base, log);
    RunTool(db, dir);

    std::vector<double> oursTimes, toolTimes;
    std::printf("%-6s %14s %12s\n", "round", "ValidationBase", "fbsvcmgr");
    for (int i = 0; i < rounds; ++i) {
        double a, b;
        if (i % 2 == 0) {
            a = RunOurs(dm, base, log);
            b = RunTool(db, dir);
        } else {
            b = RunTool(db, dir);
            a = RunOurs(dm, base, log);
        }
        oursTimes.push_back(a);
        toolTimes.push_back(b);
        std::printf("%-6d %13.3fs %11.3fs\n", i + 1, a, b);
    }
    const double mOurs = bench::Median(oursTimes);
    const double mTool = bench::Median(toolTimes);
    const double overhead = ToolOverhead(dir);
    const double ratio = mOurs / mTool;
    const double fairRatio = mOurs / (mTool - overhead);
    std::printf("median %13.3fs %11.3fs\n", mOurs, mTool);
    std::printf("fbsvcmgr start-up and shut-down (a version query): %.3f s\n", overhead);
    std::printf("ratio ValidationBase / fbsvcmgr: %.3f (%+.1f %%)\n", ratio, (ratio - 1) * 100);
    std::printf(
        "ratio ValidationBase / (fbsvcmgr - start-up): %.3f (%+.1f %%; goal within 3 %%: %s)\n",
        fairRatio, (fairRatio - 1) * 100, fairRatio <= 1.03 ? "met" : "not met");
    if (toolCrashes > 0)
        std::printf("fbsvcmgr crashed at exit in %d run(s), each after a complete check\n",
                    toolCrashes);
    return 0;
}
