// Figures of a script file run whose one statement is long: RunScriptFile
// splits its chunk again after every line it reads, and its cost must grow
// with the file, not with its square. Prints the times for a procedure of
// 10,000 and of 20,000 lines and their ratio (goal about 2), first for the
// executor alone (no database: the statement is read, split and handed on,
// then refused by the layer), then end to end on the embedded engine, where
// the server's compiling of the procedure is part of the figure.
//
// Usage: script_growth_bench [rounds]   (default 3)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "firebird/database.h"
#include "firebird/scripter.h"

namespace {

using namespace qm;
using namespace qm::bench;

// A procedure whose body is `lines` lines long, terminated by semicolons
// inside and out: the executor's body check keeps it one statement.
std::string Procedure(int lines) {
    std::string text = "CREATE PROCEDURE P (A INTEGER) RETURNS (X INTEGER) AS\nBEGIN\n  X = A;\n";
    for (int i = 0; i < lines; ++i) text += "  X = X + " + std::to_string(i % 7) + ";\n";
    text += "END;\n";
    return text;
}

struct RunResult {
    double seconds = 0;
    int statements = 0;
    int failures = 0;
};

RunResult RunFile(const std::string& file, TFbDatabase* db) {
    RunResult r;
    TFbScripter scripter;
    if (db != nullptr) scripter.SetDatabase(db);
    scripter.BeforeStatementExecute = [&](TFbScripter&, int, int, const TStatementDesc&,
                                          const TScriptLines*) { ++r.statements; };
    scripter.OnExecuteError = [&](TFbScripter&, int, int, const TScriptLines&, int,
                                  const std::string&, bool&, bool& stop) {
        ++r.failures;
        stop = false;
    };
    const auto start = Clock::now();
    scripter.RunScriptFile(file, ";");
    if (db != nullptr && scripter.CurrentTransaction().Active())
        scripter.CurrentTransaction().Commit();
    r.seconds = SecondsSince(start);
    return r;
}

double Measure(const std::string& dir, int lines, int rounds, bool withDatabase) {
    const std::string file = dir + "long_" + std::to_string(lines) + ".sql";
    WriteText(file, Procedure(lines));
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        std::unique_ptr<TFbDatabase> db;
        if (withDatabase) {
            const std::string path = dir + "growth.fdb";
            std::filesystem::remove(path);
            db = std::make_unique<TFbDatabase>();
            db->SetDBName(path);
            db->SetSQLDialect(3);
            db->SetDBParams({"USER 'SYSDBA' PASSWORD 'masterkey'"});
            db->CreateDatabase();
        }
        const RunResult r = RunFile(file, db.get());
        const int expectedFailures = withDatabase ? 0 : 1;
        if (r.statements != 1 || r.failures != expectedFailures) {
            throw std::runtime_error("the run of " + file + " gave " +
                                     std::to_string(r.statements) + " statements and " +
                                     std::to_string(r.failures) + " failures");
        }
        times.push_back(r.seconds);
    }
    return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
    return RunReportingErrors("script_growth_bench", [&] {
        const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
        const std::string dir = ScratchDirectory("qm_script_growth_bench");
        for (const bool withDatabase : {false, true}) {
            std::printf("%s\n", withDatabase ? "end to end on the embedded engine:"
                                             : "the executor alone (no database):");
            const double t10 = Measure(dir, 10000, rounds, withDatabase);
            std::printf("  one statement of 10,000 lines: %8.4f s\n", t10);
            const double t20 = Measure(dir, 20000, rounds, withDatabase);
            std::printf("  one statement of 20,000 lines: %8.4f s\n", t20);
            std::printf("  ratio 20,000 / 10,000 = %.2f (goal about 2)\n", t20 / t10);
            std::fflush(stdout);
        }
        std::filesystem::remove_all(dir);
        return 0;
    });
}
