// Figures of Firebird's own example script, employee.sql, run end to end:
// the database it creates, its tables, procedures, triggers and rows, on the
// embedded engine, alternately by `isql-fb -q -i`, by TFbScripter from the
// script's text (as the script run loads a file) and by TFbScripter through
// INPUT. Prints the time of each and their ratios to isql-fb.
//
// Usage: employee_script_bench [rounds [employee.sql or employee.sql.gz]]
//        (defaults 5 and Debian's copy from firebird3.0-examples)

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_rows.h"
#include "bench/bench_support.h"
#include "firebird/scripter.h"

namespace {

using namespace qm;
using namespace qm::bench;

constexpr const char* kDefaultScript =
    "/usr/share/doc/firebird3.0-common-doc/examples/employee.sql.gz";

// The script's text; a .gz file is unpacked by gzip.
std::string LoadScript(const std::string& path, const std::string& dir) {
    if (path.size() < 3 || path.compare(path.size() - 3, 3, ".gz") != 0) return ReadText(path);
    const std::string out = dir + "employee.unpacked";
    if (RunProgram({"/bin/gzip", "-dc", path}, out) != 0)
        throw std::runtime_error("gzip could not unpack " + path);
    return ReadText(out);
}

// The script names its database relative to the working directory.
void EnterFresh(const std::string& dir) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
}

void RunScripter(const TScriptLines& lines) {
    TFbScripter scripter;
    int refused = 0;
    scripter.OnExecuteError = [&](TFbScripter&, int, int line, const TScriptLines&, int,
                                  const std::string& msg, bool&, bool& stop) {
        std::fprintf(stderr, "line %d refused: %s\n", line, msg.c_str());
        ++refused;
        stop = false;
    };
    scripter.SetScript(lines);
    scripter.RunScript(1);
    if (refused != 0) throw std::runtime_error("TFbScripter: statements refused");
}

}  // namespace

int main(int argc, char** argv) {
    return RunReportingErrors("employee_script_bench", [&] {
        const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
        const std::string source = argc > 2 ? argv[2] : kDefaultScript;
        const std::string dir = ScratchDirectory("qm_employee_script_bench");
        const std::string file = dir + "employee.sql";
        const std::string text = LoadScript(source, dir);
        WriteText(file, text);
        const TScriptLines lines = SplitTextLines(text);
        std::printf("script: %s, %zu lines\n", source.c_str(), lines.size());

        const char* const names[] = {"isql-fb", "TFbScripter", "INPUT"};
        std::vector<double> times[3];
        std::vector<double> cpuTimes[3];
        const std::filesystem::path home = std::filesystem::current_path();
        for (int round = 0; round < rounds; ++round) {
            for (int side = 0; side < 3; ++side) {
                const std::string sideDir = dir + "side" + std::to_string(side) + "/";
                EnterFresh(sideDir);
                const int who = side == 0 ? RUSAGE_CHILDREN : RUSAGE_SELF;
                const double cpuStart = CpuSeconds(who);
                const auto start = Clock::now();
                if (side == 0) {
                    if (RunProgram({kIsql, "-q", "-i", file}, sideDir + "isql.out") != 0)
                        throw std::runtime_error("isql-fb failed, see " + sideDir + "isql.out");
                } else {
                    RunScripter(side == 1 ? lines : TScriptLines{"INPUT '" + file + "';"});
                }
                const double t = SecondsSince(start);
                const double cpu = CpuSeconds(who) - cpuStart;
                std::filesystem::current_path(home);
                const long long employees = CountRows(sideDir + "employee.fdb", "EMPLOYEE");
                if (employees != 42) {
                    std::fprintf(stderr, "%s left %lld employees, not 42\n", names[side],
                                 employees);
                    return 1;
                }
                times[side].push_back(t);
                cpuTimes[side].push_back(cpu);
                std::printf("round %d %-12s %7.3f s   (processor %6.3f s)\n", round + 1,
                            names[side], t, cpu);
                std::fflush(stdout);
            }
        }
        for (int side = 0; side < 3; ++side)
            std::printf("median %-12s %7.3f s   (processor %6.3f s)\n", names[side],
                        Median(times[side]), Median(cpuTimes[side]));
        for (int side = 1; side < 3; ++side)
            std::printf("ratio isql-fb / %s = %.2f (goal >= 1.0), by processor time %.2f\n",
                        names[side], Median(times[0]) / Median(times[side]),
                        Median(cpuTimes[0]) / Median(cpuTimes[side]));
        std::filesystem::remove_all(dir);
        return 0;
    });
}
