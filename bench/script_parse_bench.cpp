// Figures of the script splitter:
//  - splitting speed on a generated 50 MB script beside a plain one-pass byte
//    scan of the same lines (counting semicolons outside single quotes);
//  - the cost of a file run's re-split after every line for one statement of
//    10,000 and of 20,000 lines, resumed (SplitScriptIncremental), and for
//    contrast from the start (SplitScript), with the growth ratio of each.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "firebird/script_parser.h"

namespace {

using qm::TFbScriptParser;
using qm::TScriptLines;
using qm::TScriptMap;
using qm::bench::Clock;
using qm::bench::SecondsSince;

TScriptLines GenerateScript(std::size_t targetBytes, std::size_t& bytes) {
    TScriptLines lines;
    bytes = 0;
    const auto add = [&](std::string line) {
        bytes += line.size() + 1;
        lines.push_back(std::move(line));
    };
    for (int n = 0; bytes < targetBytes; ++n) {
        const std::string id = std::to_string(n);
        if (n % 100 == 0) {
            add("/* Batch " + id + ": a table, a procedure and a trigger;");
            add("   the comment runs over lines ; */");
            add("CREATE TABLE ORDERS_" + id + " (ID INTEGER NOT NULL, CUSTOMER VARCHAR(60),");
            add("  NOTE VARCHAR(200), CONSTRAINT PK_" + id + " PRIMARY KEY (ID));");
            add("CREATE OR ALTER PROCEDURE COUNT_" + id + " (A INTEGER) RETURNS (B INTEGER) AS");
            add("DECLARE VARIABLE I INTEGER;");
            add("BEGIN");
            add("  I = 0;");
            add("  WHILE (I < A) DO BEGIN I = I + 1; END");
            add("  B = CASE WHEN I > 10 THEN 10 ELSE I END;");
            add("  SUSPEND;");
            add("END;");
            add("SET TERM ^ ;");
            add("CREATE TRIGGER TR_" + id + " FOR ORDERS_" + id + " BEFORE INSERT AS");
            add("BEGIN");
            add("  NEW.NOTE = 'set by trigger; ok';");
            add("END^");
            add("SET TERM ; ^");
            add("COMMIT;");
        }
        add("INSERT INTO ORDERS (ID, CUSTOMER, NOTE) VALUES (" + id + ", 'Customer " + id +
            "', 'note; with a semicolon');");
        add("INSERT INTO ORDER_LINES (ORDER_ID, ITEM, QTY, PRICE) VALUES (" + id + ", 'Item ''" +
            id + "''', 3, 19.99);");
        add("UPDATE ORDERS SET NOTE = 'updated' WHERE ID = " + id + "; -- keep it");
        add("");
        add("SELECT COUNT(*) FROM ORDERS WHERE CUSTOMER = 'Customer " + id + "';");
    }
    return lines;
}

std::size_t ByteScan(const TScriptLines& lines) {
    std::size_t count = 0;
    bool quoted = false;
    for (const std::string& line : lines) {
        for (const char c : line) {
            if (c == '\'') {
                quoted = !quoted;
            } else if (c == ';' && !quoted) {
                ++count;
            }
        }
    }
    return count;
}

void ParsingSpeed() {
    std::size_t bytes = 0;
    const TScriptLines lines = GenerateScript(50u << 20, bytes);
    const double mb = static_cast<double>(bytes) / (1 << 20);

    // Timed in turns so that a busy machine slows all alike. A new map pays
    // for its growth in steps; a reused one (as the executor's own map is
    // between splits) has its room already.
    double scanBest = 1e9;
    double splitBest = 1e9;
    double reusedBest = 1e9;
    std::size_t semicolons = 0;
    std::size_t statements = 0;
    TScriptMap reused;
    for (int run = 0; run < 7; ++run) {
        auto t0 = Clock::now();
        semicolons = ByteScan(lines);
        scanBest = std::min(scanBest, SecondsSince(t0));

        TFbScriptParser parser;
        TScriptMap map;
        std::string terminator = ";";
        t0 = Clock::now();
        parser.SplitScript(lines, terminator, map, true);
        splitBest = std::min(splitBest, SecondsSince(t0));
        statements = map.size();

        std::string again = ";";
        t0 = Clock::now();
        parser.SplitScript(lines, again, reused, true);
        reusedBest = std::min(reusedBest, SecondsSince(t0));
    }

    std::printf("Parsing: %.1f MB, %zu lines, %zu statements (%zu semicolons outside quotes)\n", mb,
                lines.size(), statements, semicolons);
    std::printf("  byte scan                  %8.1f MB/s\n", mb / scanBest);
    std::printf("  SplitScript, new map       %8.1f MB/s   ratio %5.2f (goal >= 0.33)\n",
                mb / splitBest, scanBest / splitBest);
    std::printf("  SplitScript, reused map    %8.1f MB/s   ratio %5.2f\n", mb / reusedBest,
                scanBest / reusedBest);
}

// One statement of n lines, each ending in a semicolon inside the body.
TScriptLines LongProcedure(int n) {
    TScriptLines file{"CREATE PROCEDURE LONG_ONE RETURNS (X INTEGER) AS", "BEGIN"};
    for (int i = 2; i < n - 1; ++i) {
        file.push_back("  X = X + " + std::to_string(i) + "; /* step */ -- end;");
    }
    file.push_back("END;");
    return file;
}

// One statement of n lines without semicolons inside.
TScriptLines LongSelect(int n) {
    TScriptLines file{"SELECT"};
    for (int i = 1; i < n - 1; ++i) file.push_back("  'value " + std::to_string(i) + "',");
    file.push_back("  0 FROM RDB$DATABASE;");
    return file;
}

// A file run's reading loop: the chunk grows by one line and is split again;
// it is emptied once its first statement has an end.
double FileRun(const TScriptLines& file, bool incremental, std::size_t& statements) {
    TFbScriptParser parser;
    TScriptLines chunk;
    TScriptMap map;
    std::string terminator = ";";
    statements = 0;
    const auto t0 = Clock::now();
    for (const std::string& line : file) {
        chunk.push_back(line);
        if (incremental) {
            parser.SplitScriptIncremental(chunk, terminator, map, false);
        } else {
            parser.SplitScript(chunk, terminator, map, false);
        }
        if (!map.empty() && map[0].EndPos.Col != 0) {
            statements += map.size();
            chunk.clear();
            parser.ResetIncrementalSplit();
        }
    }
    return SecondsSince(t0);
}

// withNaive also times the re-split from the start, which is quadratic.
void Growth(const char* name, TScriptLines (*make)(int), bool withNaive) {
    for (const bool incremental : {true, false}) {
        if (!incremental && !withNaive) continue;
        double t[2];
        for (int k = 0; k < 2; ++k) {
            const int n = 10000 * (k + 1);
            const TScriptLines file = make(n);
            std::size_t statements = 0;
            t[k] = 1e9;
            for (int run = 0; run < (incremental ? 5 : 1); ++run) {
                t[k] = std::min(t[k], FileRun(file, incremental, statements));
            }
            if (statements != 1) std::printf("  (unexpected: %zu statements)\n", statements);
        }
        std::printf("  %-12s %-24s 10,000 lines %9.4f s   20,000 lines %9.4f s   ratio %5.2f\n",
                    name, incremental ? "SplitScriptIncremental" : "SplitScript (from start)", t[0],
                    t[1], t[1] / t[0]);
    }
}

}  // namespace

// With an argument "parse" or "growth" only that part runs.
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "parse") ParsingSpeed();
    if (only.empty() || only == "growth") {
        std::printf("Growth: a file run re-splitting after every line (goal: ratio about 2)\n");
        Growth("procedure", LongProcedure, false);
        Growth("select", LongSelect, true);
    }
    return 0;
}
