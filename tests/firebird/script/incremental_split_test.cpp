#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "firebird/script_parser.h"
#include "tests/firebird/script/script_lines.h"

namespace qm {
namespace {

using test::ToLines;

// Scripts whose state crosses line ends in every way the scanner knows.
const char* const kScripts[] = {
    "select 1;\nselect\n  2\n;\n\n\n;select 3; select\n4;",
    "/* a comment\n  over ; lines */ select 1 /* and\n ; */ from t;\n-- line; comment\nselect "
    "'a\n;b' from \"x\n;y\";",
    "SET TERM ^ ;\nCREATE PROCEDURE P AS BEGIN\n  X = 1;\nEND^\nSET TERM ; ^\nselect 1;\nSET\n"
    "TERM\n#\n;select 2#\nSET TERM ;#",
    "SET TERM !! ;\nselect 1!! select\n  2 !!\nCREATE FUNCTION F RETURNS INT AS BEGIN\n"
    "  RETURN 1;\nEND!!\nSET TERM ; !!\nselect 3;",
    "CREATE PROCEDURE P AS\nDECLARE VARIABLE V INT;\nBEGIN\n  IF (A = 1) THEN\n  BEGIN\n    V = "
    "(CASE WHEN A = 1\n      THEN 1 ELSE 2 END);\n  END\n  V = 'end; begin';\nEND;\nselect 1;"
    "\nEXECUTE BLOCK AS\nBEGIN\n  X = 1;\nEND;",
    "create database 'a.fdb';\ncommit;\nconnect 'b.fdb'\n  user 'SYSDBA';\nrollback;\ndrop "
    "database;",
    "- 1;\n/ 2\n;\nbatch start;\ninsert into t values (1);\nbatch execute;\nset generator g to 1;",
    "select 1;\ncreate procedure p as begin\n  x = 1;\n  y = 2;",
    "select 1;\nselect 2\n\n",
    ";;;\n\n;;\n",
    "select 1;\ncreate database 'a\nb.fdb';\nselect 2;",
};

struct Outcome {
    TScriptMap map;
    std::string terminator = ";";
    std::string lastDatabase;
    bool threw = false;
    bool operator==(const Outcome&) const = default;
};

template <typename SplitFn>
Outcome SplitWith(TFbScriptParser& parser, const TScriptLines& lines, std::string terminator,
                  TScriptMap& map, bool accept, SplitFn split) {
    Outcome o;
    o.terminator = terminator;
    try {
        (parser.*split)(lines, o.terminator, map, accept);
    } catch (const EFbScriptError&) {
        o.threw = true;
    }
    o.map = map;
    o.lastDatabase = parser.LastDatabaseName();
    return o;
}

TEST(IncrementalSplitTest, EveryPrefixMatchesSplittingThePrefixWhole) {
    for (const char* script : kScripts) {
        for (const bool accept : {false, true}) {
            SCOPED_TRACE(script);
            SCOPED_TRACE(accept);
            const TScriptLines all = ToLines(script);
            TFbScriptParser incremental;
            TScriptLines grown;
            TScriptMap map;
            std::string terminator = ";";
            for (const std::string& line : all) {
                grown.push_back(line);
                const Outcome inc = SplitWith(incremental, grown, terminator, map, accept,
                                              &TFbScriptParser::SplitScriptIncremental);
                terminator = inc.terminator;

                TFbScriptParser whole;
                TScriptMap wholeMap;
                const TScriptLines copy = grown;
                const Outcome ref =
                    SplitWith(whole, copy, ";", wholeMap, accept, &TFbScriptParser::SplitScript);
                ASSERT_EQ(inc, ref) << "after line " << grown.size();
            }
        }
    }
}

// Scripts glued from fragments that open and close every state at random
// places, line ends among them.
TEST(IncrementalSplitTest, RandomScriptsMatchSplittingWhole) {
    const char* const fragments[] = {"select 1",
                                     " ",
                                     "\n",
                                     "\n",
                                     ";",
                                     ";",
                                     "^",
                                     "'",
                                     "\"",
                                     "/*",
                                     "*/",
                                     "/*/",
                                     "--",
                                     "-",
                                     "/",
                                     "SET TERM ^ ;",
                                     "SET TERM ; ^",
                                     "set",
                                     " term ",
                                     "create procedure p as ",
                                     "begin ",
                                     " end",
                                     "case ",
                                     "(",
                                     ")",
                                     "execute block as ",
                                     "declare variable v int",
                                     "create database 'a.fdb'",
                                     "connect 'b.fdb'",
                                     "commit",
                                     "drop database",
                                     "x = 1",
                                     "\t",
                                     "\r",
                                     "batch start",
                                     "grant all on t to u",
                                     "'x\n",
                                     "create trigger t for x as "};
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(fragments) - 1);
    for (int round = 0; round < 300; ++round) {
        std::string script;
        for (int k = 0; k < 40; ++k) script += fragments[pick(random)];
        SCOPED_TRACE(script);
        const bool accept = round % 2 == 0;
        const TScriptLines all = ToLines(script);
        TFbScriptParser incremental;
        TScriptLines grown;
        TScriptMap map;
        std::string terminator = ";";
        for (const std::string& line : all) {
            grown.push_back(line);
            const Outcome inc = SplitWith(incremental, grown, terminator, map, accept,
                                          &TFbScriptParser::SplitScriptIncremental);
            terminator = inc.terminator;
            TFbScriptParser whole;
            TScriptMap wholeMap;
            const Outcome ref =
                SplitWith(whole, grown, ";", wholeMap, accept, &TFbScriptParser::SplitScript);
            ASSERT_EQ(inc, ref) << "after line " << grown.size();
            // Every end lies on the script and after its start.
            for (const TStatementDesc& d : ref.map) {
                if (d.EndPos.Col == 0) continue;
                ASSERT_LT(std::size_t(d.EndPos.Line), grown.size());
                ASSERT_LE(d.EndPos.Col, grown[d.EndPos.Line].size());
                ASSERT_TRUE(d.StartPos.Line < d.EndPos.Line ||
                            (d.StartPos.Line == d.EndPos.Line && d.StartPos.Col <= d.EndPos.Col));
            }
        }
    }
}

// What a file run sees: the chunk is split again after every line it reads and
// emptied once its first statement has an end (the rest of the last line is
// carried over) or once a SET TERM changed the terminator.
struct Event {
    int number;
    int line;
    std::string text;
    TStatementDesc desc;
    bool operator==(const Event&) const = default;
};

std::string Text(const TScriptLines& lines, const TStatementDesc& d) {
    std::string text;
    for (std::int32_t i = d.StartPos.Line; i <= d.EndPos.Line; ++i) {
        const std::string& l = lines[i];
        const std::size_t from = i == d.StartPos.Line ? d.StartPos.Col - 1 : 0;
        const std::size_t to = i == d.EndPos.Line ? d.EndPos.Col : l.size();
        if (i != d.StartPos.Line) text += '\n';
        if (to > from) text += l.substr(from, to - from);
    }
    return text;
}

std::vector<Event> RunFile(const TScriptLines& file, bool incremental) {
    std::vector<Event> events;
    TFbScriptParser parser;
    TScriptLines chunk;
    TScriptMap map;
    std::string terminator = ";";
    int k = 0;
    int fileLine = 0;
    std::string pending;
    const auto emptyChunk = [&] {
        chunk.clear();
        if (incremental) parser.ResetIncrementalSplit();
    };
    for (const std::string& line : file) {
        if (!pending.empty()) chunk.push_back(pending);
        chunk.push_back(line);
        pending.clear();
        ++fileLine;
        const std::string before = terminator;
        if (incremental) {
            parser.SplitScriptIncremental(chunk, terminator, map, false);
        } else {
            parser.SplitScript(chunk, terminator, map, false);
        }
        if (!map.empty() && map[0].EndPos.Col != 0) {
            for (const TStatementDesc& d : map) {
                if (d.EndPos.Col != 0) {
                    events.push_back({k, fileLine, Text(chunk, d), d});
                } else {
                    pending = chunk.back().substr(d.StartPos.Col - 1);
                }
            }
            emptyChunk();
            ++k;
        } else if (terminator != before) {
            emptyChunk();
            ++k;
        }
    }
    return events;
}

TEST(IncrementalSplitTest, FileRunSeesTheSameStatementsNumbersAndLines) {
    std::size_t seen = 0;
    for (const char* script : kScripts) {
        if (std::string_view(script).find("'a\nb.fdb'") != std::string_view::npos) continue;
        SCOPED_TRACE(script);
        const TScriptLines file = ToLines(script);
        const std::vector<Event> naive = RunFile(file, false);
        seen += naive.size();
        EXPECT_EQ(RunFile(file, true), naive);
    }
    EXPECT_GT(seen, 20u);

    // A long statement read line by line.
    TScriptLines file{"create procedure p as begin"};
    for (int i = 0; i < 300; ++i) file.push_back("  x = x + 1; -- end;");
    file.push_back("end;");
    file.push_back("select 1;");
    const std::vector<Event> events = RunFile(file, true);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].line, 302);
    EXPECT_EQ(events[0].desc.EndPos, (ScriptPos{3, 301}));
    EXPECT_EQ(events, RunFile(file, false));
}

TEST(IncrementalSplitTest, StartsOverWhenTheListIsNotTheOneItGrew) {
    TFbScriptParser parser;
    TScriptMap map;
    std::string terminator = ";";
    TScriptLines a = ToLines("select 1;\nselect 2;\nselect\n3");
    parser.SplitScriptIncremental(a, terminator, map, false);
    ASSERT_EQ(map.size(), 3u);

    const auto expectWhole = [&](const TScriptLines& lines) {
        TFbScriptParser whole;
        TScriptMap wholeMap;
        std::string t = ";";
        whole.SplitScript(lines, t, wholeMap, false);
        EXPECT_EQ(map, wholeMap);
    };

    // Another list.
    const TScriptLines b = ToLines("select 4;");
    parser.SplitScriptIncremental(b, terminator, map, false);
    expectWhole(b);

    // The same list emptied and refilled: shorter, then as long with other lines.
    a = ToLines("delete from t;");
    parser.SplitScriptIncremental(a, terminator, map, false);
    expectWhole(a);
    a = ToLines("select 5;\nselect 6;\nselect 7;\nselect 8;");
    parser.SplitScriptIncremental(a, terminator, map, false);
    a[3] = "update t set a = 1;";
    parser.SplitScriptIncremental(a, terminator, map, false);
    expectWhole(a);

    // A map the caller emptied.
    a.push_back("select 9;");
    map.clear();
    parser.SplitScriptIncremental(a, terminator, map, false);
    expectWhole(a);
}

}  // namespace
}  // namespace qm
