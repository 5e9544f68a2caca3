#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/firebird/scripter/scripter_fixture.h"

// RunScriptFile splits its chunk after every line without rescanning it; what
// it runs must be exactly what the line-by-line rule gives when the whole
// chunk is split afresh each time. No server is needed: without a database
// every statement that reaches the query is refused and reported, and the
// events show what would have run.
namespace qm::test {
namespace {

struct Outcome {
    std::vector<SeenStatement> events;
    std::vector<int> errorLines;  // OnExecuteError's Line, in order
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    for (const SeenStatement& e : o.events) {
        *os << "\n  L" << e.line << " #" << e.statementNo << " kind " << int(e.desc.Kind) << " ("
            << e.desc.StartPos.Line << ":" << e.desc.StartPos.Col << ".." << e.desc.EndPos.Line
            << ":" << e.desc.EndPos.Col << ")";
        for (const std::string& t : e.text) *os << " [" << t << "]";
    }
    *os << "\n  errors at";
    for (int l : o.errorLines) *os << " " << l;
}

// The statements that go to the query, and so to OnExecuteError without a
// database.
bool ReachesTheQuery(std::uint8_t kind) {
    switch (kind) {
        case skConnect:
        case skDisconnect:
        case skReconnect:
        case skCreateDatabase:
        case skDropDatabase:
        case skCommit:
        case skRollback:
        case skSet:
        case skDescribe:
        case skInput:
        case skBatchStart:
        case skBatchExecute:
            return false;
        default:
            return true;
    }
}

TScriptLines TextBetween(const TScriptLines& lines, const TStatementDesc& d) {
    TScriptLines out;
    for (std::int32_t i = d.StartPos.Line; i <= d.EndPos.Line; ++i) {
        const std::string& l = lines[static_cast<std::size_t>(i)];
        const std::size_t from = i == d.StartPos.Line ? d.StartPos.Col - 1 : 0;
        const std::size_t to = i == d.EndPos.Line ? d.EndPos.Col : l.size();
        out.push_back(l.substr(from, to - from));
    }
    return out;
}

// The rule as written: after every line, the whole chunk is split anew.
Outcome ByTheRule(const TScriptLines& file) {
    Outcome o;
    TFbScriptParser parser;
    TScriptLines chunk;
    TScriptMap map;
    std::string pending;
    char terminator = ';';
    int k = 0;
    int L = 0;
    for (const std::string& line : file) {
        if (!pending.empty()) chunk.push_back(pending);
        chunk.push_back(line);
        pending.clear();
        ++L;
        const char before = terminator;
        parser.SplitScript(chunk, terminator, map, false);
        if (!map.empty() && map.front().EndPos.Col != 0) {
            for (const TStatementDesc& d : map) {
                if (d.EndPos.Col == 0) {
                    pending = chunk.back().substr(d.StartPos.Col - 1);
                    continue;
                }
                o.events.push_back({L, k + 1, d, true, TextBetween(chunk, d)});
                if (ReachesTheQuery(d.Kind)) o.errorLines.push_back(d.StartPos.Line + 1);
            }
            chunk.clear();
            ++k;
        } else if (terminator != before) {
            chunk.clear();
            ++k;
        }
    }
    return o;
}

Outcome ByTheScripter(const std::string& path) {
    Outcome o;
    TFbScripter scripter;
    scripter.BeforeStatementExecute = [&](TFbScripter&, int line, int statementNo,
                                          const TStatementDesc& d, const TScriptLines* text) {
        o.events.push_back({line, statementNo, d, text != nullptr, text ? *text : TScriptLines{}});
    };
    scripter.OnExecuteError = [&](TFbScripter&, int, int line, const TScriptLines&, int,
                                  const std::string&, bool&, bool& stop) {
        o.errorLines.push_back(line);
        stop = false;
    };
    scripter.RunScriptFile(path, ';');
    return o;
}

std::string Join(const TScriptLines& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

const char* const kScripts[] = {
    // Several statements on a line, the last one left for the next line.
    "select 1 from t; select 2 from t; select\n"
    "  3 from t;\n"
    "select 4\n"
    "\n"
    "from t\n"
    ";\n",
    // Stray terminators, comments and blank lines between statements.
    ";;;\n"
    "-- a comment; with a terminator\n"
    "/* a block\n"
    "   comment; */ insert into t values (1);\n"
    "\n"
    "update t set a = ';' where b = \"x;y\";\n",
    // Bodies in semicolon mode and under SET TERM, nested blocks and CASE.
    "create procedure p as\n"
    "declare variable v integer;\n"
    "begin\n"
    "  if (1 = 1) then begin v = (case when 1 = 1 then 1 else 2 end); end\n"
    "  v = 2;\n"
    "end;\n"
    "SET TERM ^ ;\n"
    "create trigger tr for t before insert as begin\n"
    "  new.a = 1;\n"
    "end^ select 5 from t^\n"
    "SET TERM ; ^ select 6 from t;\n"
    "execute block as begin\n"
    "  exit;\n"
    "end;\n",
    // Statements the scripter carries out itself, between ordinary ones.
    "set autoddl off; commit; insert into t values (2);\n"
    "rollback;\n"
    "set sql dialect 3; set names utf8;\n"
    "disconnect;\n",
    // A comment opened after a complete statement: the rule starts the next
    // chunk afresh, so the comment's end becomes the start of a statement.
    "select 7 from t; /* opened here\n"
    "closed here */ select 8 from t;\n",
    // The last statement has no terminator and is not run.
    "select 9 from t;\n"
    "select 10\n"
    "  from t",
};

TEST(FileRunTest, RunsWhatTheLineByLineRuleGives) {
    TempDir dir;
    for (const char* script : kScripts) {
        SCOPED_TRACE(script);
        const std::string path = dir.File("script.sql");
        WriteFile(path, script);
        EXPECT_EQ(ByTheScripter(path), ByTheRule(SplitTextLines(script)));
    }
}

TEST(FileRunTest, LongGeneratedScriptsRunWhatTheRuleGives) {
    // Lines drawn from fragments that open and close statements, bodies,
    // comments and quotes in every order.
    const char* const fragments[] = {
        "select 1 from t;",
        "insert into t",
        "values (1);",
        "create procedure p as begin",
        "  x = 1;",
        "end;",
        "begin",
        "end",
        "/* comment",
        "done */",
        "'text;",
        "more';",
        "SET TERM ^ ;",
        "end^",
        "SET TERM ; ^",
        "-- note;",
        "",
        ";",
        "update t set a = 1; delete from t",
        "case when 1 = 1 then 1 else 2 end",
        "execute block as",
        "select 2 from t; select",
    };
    const std::size_t n = sizeof fragments / sizeof fragments[0];
    TempDir dir;
    std::uint32_t seed = 12345;
    for (int round = 0; round < 20; ++round) {
        TScriptLines lines;
        for (int i = 0; i < 200; ++i) {
            seed = seed * 1103515245u + 12345u;
            lines.push_back(fragments[(seed >> 16) % n]);
        }
        SCOPED_TRACE(round);
        const std::string path = dir.File("generated.sql");
        WriteFile(path, Join(lines));
        Outcome expected;
        bool ruleThrew = false;
        try {
            expected = ByTheRule(lines);
        } catch (const EFbScriptError&) {
            ruleThrew = true;
        }
        if (ruleThrew) {
            EXPECT_THROW(ByTheScripter(path), EFbScriptError);
        } else {
            EXPECT_EQ(ByTheScripter(path), expected);
        }
    }
}

TEST(FileRunTest, AStopEndsTheFileAtTheNextLine) {
    TempDir dir;
    const std::string path = dir.File("stop.sql");
    WriteFile(path, "select 1 from t;\nselect 2 from t; select 3 from t;\nselect 4 from t;\n");
    TFbScripter scripter;
    std::vector<int> failed;
    scripter.OnExecuteError = [&](TFbScripter&, int statementNo, int, const TScriptLines&, int,
                                  const std::string&, bool&, bool& stop) {
        failed.push_back(statementNo);
        stop = statementNo == 2;
    };
    scripter.RunScriptFile(path, ';');
    EXPECT_EQ(failed, (std::vector<int>{1, 2}));
    EXPECT_EQ(scripter.StoppedAtStatement(), 3);
    EXPECT_EQ(scripter.FileLineCount(), 3);
}

TEST(FileRunTest, AFileThatCannotBeReadEndsTheRun) {
    TFbScripter scripter;
    TempDir dir;
    EXPECT_THROW(scripter.RunScriptFile(dir.File("missing.sql"), ';'), EFbScripterError);
}

}  // namespace
}  // namespace qm::test
