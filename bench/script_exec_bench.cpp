// Figures of the script executor against isql-fb: one generated script of
// 100,000 single-row INSERTs with a procedure and a trigger under SET TERM
// and a COMMIT every 10,000, run into fresh databases on the embedded engine,
// alternately by TFbScripter (as the script run loads and runs a file) and by
// `isql-fb -i`. Prints statements per second of each and their ratio.
//
// Usage: script_exec_bench [rounds] [inserts]   (defaults 3 and 100000)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_rows.h"
#include "bench/bench_support.h"
#include "firebird/scripter.h"
#include "platform/files.h"

namespace {

using namespace qm;
using namespace qm::bench;

struct Script {
    std::string text;
    long long statements = 0;
};

// Everything but the CONNECT line, which names the run's own database.
Script GenerateBody(long long inserts) {
    Script s;
    const auto add = [&](const std::string& line, int statements) {
        s.text += line;
        s.text += '\n';
        s.statements += statements;
    };
    add("CREATE GENERATOR G_TOTALS;", 1);
    add("CREATE TABLE ITEMS (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40),", 0);
    add("  QTY INTEGER, PRICE NUMERIC(12,2), CREATED TIMESTAMP);", 1);
    add("CREATE TABLE TOTALS (ID INTEGER, UPTO INTEGER);", 1);
    add("SET TERM ^ ;", 0);
    add("CREATE PROCEDURE ADD_TOTAL (UPTO INTEGER) AS", 0);
    add("BEGIN", 0);
    add("  INSERT INTO TOTALS (ID, UPTO) VALUES (GEN_ID(G_TOTALS, 1), :UPTO);", 0);
    add("END^", 1);
    add("CREATE TRIGGER ITEMS_BI FOR ITEMS BEFORE INSERT AS", 0);
    add("BEGIN", 0);
    add("  IF (NEW.CREATED IS NULL) THEN NEW.CREATED = CURRENT_TIMESTAMP;", 0);
    add("  IF (NEW.QTY < 0) THEN NEW.QTY = 0;", 0);
    add("END^", 1);
    add("SET TERM ; ^", 0);
    add("COMMIT;", 1);
    for (long long i = 1; i <= inserts; ++i) {
        const std::string id = std::to_string(i);
        add("INSERT INTO ITEMS (ID, NAME, QTY, PRICE) VALUES (" + id + ", 'Item " + id + "', " +
                std::to_string(i % 50 - 5) + ", " + std::to_string(i % 1000) + ".25);",
            1);
        if (i % 10000 == 0) {
            add("EXECUTE PROCEDURE ADD_TOTAL(" + id + ");", 1);
            add("COMMIT;", 1);
        }
    }
    return s;
}

std::string Connect(const std::string& path) {
    return "CONNECT '" + path + "' USER 'SYSDBA' PASSWORD 'masterkey';\n";
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

// The script run's way: the file read into the scripter's lines, then run
// from its first statement; a refused statement stops the figures.
Timing RunScripter(const std::string& file) {
    const auto start = Clock::now();
    const double cpu = CpuSeconds(RUSAGE_SELF);
    TFbScripter scripter;
    scripter.OnExecuteError = [](TFbScripter&, int no, int line, const TScriptLines&, int,
                                 const std::string& msg, bool&, bool& stop) {
        std::fprintf(stderr, "statement %d (line %d) failed: %s\n", no, line, msg.c_str());
        stop = true;
    };
    const std::optional<std::string> text = platform::ReadWholeFile(file);
    if (!text) throw std::runtime_error("cannot read " + file);
    scripter.SetScript(SplitTextLines(*text));
    scripter.RunScript(1);
    return {SecondsSince(start), CpuSeconds(RUSAGE_SELF) - cpu};
}

Timing RunIsql(const std::string& dir, const std::string& file) {
    const std::string out = dir + "isql.out";
    const auto start = Clock::now();
    const double cpu = CpuSeconds(RUSAGE_CHILDREN);
    const int rc = RunProgram({kIsql, "-q", "-b", "-i", file}, out);
    const Timing t{SecondsSince(start), CpuSeconds(RUSAGE_CHILDREN) - cpu};
    if (rc != 0) throw std::runtime_error("isql-fb failed, see " + out);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    return RunReportingErrors("script_exec_bench", [&] {
        const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
        const long long inserts = argc > 2 ? std::max(1LL, std::atoll(argv[2])) : 100000;
        const std::string dir = ScratchDirectory("qm_script_exec_bench");

        const Script body = GenerateBody(inserts);
        const long long statements = body.statements + 1;  // and the CONNECT
        std::printf("script: %lld statements (%lld INSERTs), %.1f MB\n", statements, inserts,
                    body.text.size() / 1e6);

        std::vector<double> scripterTimes, scripterCpu;
        std::vector<double> isqlTimes, isqlCpu;
        for (int round = 0; round < rounds; ++round) {
            for (const bool isql : {false, true}) {
                const std::string db = dir + (isql ? "isql.fdb" : "scripter.fdb");
                const std::string file = dir + (isql ? "isql.sql" : "scripter.sql");
                FreshIsqlDatabase(dir, db);
                WriteText(file, Connect(db) + body.text);
                const Timing t = isql ? RunIsql(dir, file) : RunScripter(file);
                const long long rows = CountRows(db, "ITEMS");
                if (rows != inserts) {
                    std::fprintf(stderr, "%s inserted %lld rows of %lld\n",
                                 isql ? "isql-fb" : "TFbScripter", rows, inserts);
                    return 1;
                }
                (isql ? isqlTimes : scripterTimes).push_back(t.wall);
                (isql ? isqlCpu : scripterCpu).push_back(t.cpu);
                std::printf("round %d %-12s %8.3f s  %9.0f statements/s   (processor %6.3f s)\n",
                            round + 1, isql ? "isql-fb" : "TFbScripter", t.wall,
                            statements / t.wall, t.cpu);
                std::fflush(stdout);
            }
        }
        const double s = statements / Median(scripterTimes);
        const double i = statements / Median(isqlTimes);
        std::printf("median TFbScripter %9.0f statements/s\n", s);
        std::printf("median isql-fb     %9.0f statements/s\n", i);
        std::printf("ratio TFbScripter / isql-fb = %.2f (goal >= 1.0)\n", s / i);
        std::printf("by processor time: TFbScripter %.3f s, isql-fb %.3f s, ratio %.2f\n",
                    Median(scripterCpu), Median(isqlCpu), Median(isqlCpu) / Median(scripterCpu));
        std::filesystem::remove_all(dir);
        return 0;
    });
}
