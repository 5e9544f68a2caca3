#pragma once

// What the maintenance benchmarks share: the command line and the database
// they start from, a data module set up as the program sets one up, fbsvcmgr
// as the contender, and the rounds in which the two take turns with the
// figures printed from them.
//
// Every such benchmark takes "[--server] [directory [megabytes [rounds]]]"
// (defaults: $TMPDIR/quillmoor-bench/, 200, 5); the database is made once in
// the directory and reused by later runs. Without --server both sides use the
// embedded engine; with it, a private Firebird server on loopback serves the
// database to both (the program finds it as it finds any server).

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/component.h"
#include "firebird/server_route.h"
#include "operations/data_module.h"
#include "operations/interaction.h"
#include "platform/platform.h"
#include "tests/support/firebird_server.h"

namespace qm::bench {

inline constexpr const char* kPassword = "masterkey";

// Keeps the lines as a dialog's view would, without drawing them.
class KeptLog final : public ILogView {
public:
    void Clear() override { lines.clear(); }
    void AddLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

// Prints the log and "<what> failed" on the error output and ends the program.
[[noreturn]] inline void Fail(const KeptLog& log, const char* what) {
    for (const std::string& l : log.lines) std::fprintf(stderr, "%s\n", l.c_str());
    std::fprintf(stderr, "%s failed\n", what);
    std::exit(1);
}

// The seconds one run of an operation of ours takes, the log cleared first;
// a run that answers false ends the program (Fail).
inline double TimeOurs(KeptLog& log, const char* what, const std::function<bool()>& run) {
    log.Clear();
    const auto start = Clock::now();
    const bool ok = run();
    const double seconds = SecondsSince(start);
    if (!ok) Fail(log, what);
    return seconds;
}

struct MaintenanceBench {
    std::string dir;  // ends with '/'
    std::size_t megabytes = 200;
    int rounds = 5;
    std::string db;          // the database of about `megabytes` MB
    double madeSeconds = 0;  // what getting the database took
    // The private server of --server (shared, so that copies of the struct
    // keep it running); null for the embedded engine.
    std::shared_ptr<test::FirebirdServer> server;
    // The service manager fbsvcmgr is given.
    std::string serviceManager = "service_mgr";
};

// Reads the command line, prints "<name> benchmark: database of about … MB in
// <dir>, <rounds> rounds" and gets the database (MakeBenchDatabase). When it
// cannot be made, the reason goes to the error output and the program ends
// with exit code 1.
inline MaintenanceBench StartMaintenanceBench(const char* name, int argc, char** argv) {
    MaintenanceBench b;
    const bool throughServer = argc > 1 && std::string(argv[1]) == "--server";
    if (throughServer) {
        --argc;
        ++argv;
    }
    b.dir =
        argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "quillmoor-bench").string();
    if (b.dir.back() != '/') b.dir += '/';
    if (argc > 2) b.megabytes = std::strtoul(argv[2], nullptr, 10);
    if (argc > 3) b.rounds = std::atoi(argv[3]);
    std::filesystem::create_directories(b.dir);

    std::printf("%s benchmark: database of about %zu MB in %s, %d rounds, %s\n", name, b.megabytes,
                b.dir.c_str(), b.rounds,
                throughServer ? "through a private server" : "on the embedded engine");
    if (throughServer) {
        b.server = std::make_shared<test::FirebirdServer>(kPassword);
        if (!b.server->Running()) {
            std::fprintf(stderr, "no server: %s\n", b.server->Reason().c_str());
            std::exit(1);
        }
        b.serviceManager = b.server->Address() + ":service_mgr";
        ::setenv(kServerVariable, b.server->Address().c_str(), 1);
    } else {
        // A port where nothing listens: never a server of this machine.
        ::setenv(kServerVariable, "127.0.0.1/1", 1);
    }
    const auto start = Clock::now();
    try {
        b.db = MakeBenchDatabase(b.dir, b.megabytes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::exit(1);
    }
    b.madeSeconds = SecondsSince(start);
    return b;
}

// A data module as the main window owns one, with the default client library
// and the SYSDBA password fbsvcmgr is given too.
struct BenchDataModule {
    BenchDataModule() {
        setting.LibraryName = platform::kDefaultClientLibrary;
        setting.SYSDBAPassword = kPassword;
    }
    TComponent owner{nullptr, "Moorquill"};
    TSetting setting{false};
    Tdm dm{&owner, setting};
};

// The register's record of the benchmark database.
inline TFirebirdBase BenchBase(const std::string& db) {
    TFirebirdBase base;
    base.Description = "bench";
    base.DBFile = db;
    return base;
}

// Firebird's own fbsvcmgr on the embedded engine, as SYSDBA, its output going
// to OutputFile() in the benchmark's directory.
//
// fbsvcmgr of Firebird 3 with the embedded engine now and then crashes while
// its engine shuts down, after the work is done. Such a run counts, and is
// counted for ReportCrashes, when the caller's check says the work is there.
class Fbsvcmgr {
public:
    explicit Fbsvcmgr(const MaintenanceBench& b)
        : out_(b.dir + "fbsvcmgr.out"), serviceManager_(b.serviceManager) {}

    const std::string& OutputFile() const { return out_; }

    // Runs one action and answers the seconds the program ran. A crash at
    // exit counts when done() is true; any other failure, or any output from
    // a quiet action, ends the benchmark.
    double Run(const std::vector<std::string>& args, bool quiet,
               const std::function<bool()>& done) {
        const auto start = Clock::now();
        const int rc = Start(args);
        const double seconds = SecondsSince(start);
        if (Crashed(rc) && done()) {
            ++crashes_;
        } else if (rc != 0 || (quiet && FileSize(out_) != 0)) {
            std::fprintf(stderr, "fbsvcmgr failed (%d), see %s\n", rc, out_.c_str());
            std::exit(1);
        }
        return seconds;
    }

    // What fbsvcmgr spends beyond what the program spends on the same work
    // (the median of five). On the embedded engine that is starting, loading
    // the engine and ending, measured with an action that does no work:
    // asking the server's version. Through a server both sides attach and log
    // in for every action, so only starting and loading the client library
    // are the tool's own: measured by asking fbsvcmgr for its own version.
    double Overhead() {
        const bool embedded = serviceManager_ == "service_mgr";
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            const auto start = Clock::now();
            const int rc =
                embedded ? Start({"-info_server_version"}) : RunProgram({kFbsvcmgr, "-z"}, out_);
            if (rc == 0 || Crashed(rc)) times.push_back(SecondsSince(start));
        }
        return Median(times);
    }
    bool ThroughServer() const { return serviceManager_ != "service_mgr"; }

    // "fbsvcmgr crashed at exit in <n> run(s), each after <after>", when any did.
    void ReportCrashes(const char* after) const {
        if (crashes_ > 0)
            std::printf("fbsvcmgr crashed at exit in %d run(s), each after %s\n", crashes_, after);
    }

private:
    // fbsvcmgr ends with 128 + the signal's number when it crashes (RunProgram
    // answers -1 for a tool killed outright).
    static bool Crashed(int rc) { return rc == 128 + 11 || rc == -1; }

    int Start(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {kFbsvcmgr, serviceManager_, "-user",
                                         "sysdba",  "-password",     kPassword};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, out_);
    }

    std::string out_;
    std::string serviceManager_;
    int crashes_ = 0;
};

// One side of the contest: its column head, the column's width, and one timed
// run.
struct Contender {
    const char* name;
    int width;
    std::function<double()> run;
};

struct Medians {
    double ours = 0;
    double tool = 0;
};

// Runs both sides `rounds` times, ours first in even rounds and the tool first
// in odd ones, so that neither side always meets a warm or a cold cache.
// Prints the column heads, a line for every round and the medians.
inline Medians AlternateRounds(int rounds, const Contender& ours, const Contender& tool) {
    std::vector<double> oursTimes, toolTimes;
    std::printf("%-6s %*s %*s\n", "round", ours.width, ours.name, tool.width, tool.name);
    for (int i = 0; i < rounds; ++i) {
        double a, b;
        if (i % 2 == 0) {
            a = ours.run();
            b = tool.run();
        } else {
            b = tool.run();
            a = ours.run();
        }
        oursTimes.push_back(a);
        toolTimes.push_back(b);
        std::printf("%-6d %*.3fs %*.3fs\n", i + 1, ours.width - 1, a, tool.width - 1, b);
    }
    const Medians m{Median(oursTimes), Median(toolTimes)};
    std::printf("median %*.3fs %*.3fs\n", ours.width - 1, m.ours, tool.width - 1, m.tool);
    return m;
}

// Prints fbsvcmgr's start-up cost, the ratio of the medians, and the ratio with
// the tool's start-ups taken off (toolStarts of them in one run of the tool's
// side, 1 to 3) against the goal of being within goalPercent of the tool.
inline void PrintRatios(const char* ours, const Medians& m, double overhead, int toolStarts,
                        int goalPercent, bool throughServer = false) {
    static const char* const kHowMany[] = {"", "", ", two of them", ", three of them"};
    const char* howMany = toolStarts >= 0 && toolStarts <= 3 ? kHowMany[toolStarts] : "";
    const double ratio = m.ours / m.tool;
    const double fairRatio = m.ours / (m.tool - toolStarts * overhead);
    std::printf("fbsvcmgr start-up and shut-down (%s): %.3f s%s\n",
                throughServer ? "its own version, no attach" : "a version query", overhead,
                howMany);
    std::printf("ratio %s / fbsvcmgr: %.3f (%+.1f %%)\n", ours, ratio, (ratio - 1) * 100);
    std::printf("ratio %s / (fbsvcmgr - start-up%s): %.3f (%+.1f %%; goal within %d %%: %s)\n",
                ours, toolStarts > 1 ? "s" : "", fairRatio, (fairRatio - 1) * 100, goalPercent,
                fairRatio <= 1 + goalPercent / 100.0 ? "met" : "not met");
}

}  // namespace qm::bench
