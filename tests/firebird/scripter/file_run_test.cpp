#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/firebird/scripter/scripter_fixture.h"

// RunScriptFile reads its file line by line and lets the lines it has run go;
// what it runs must be, statement for statement, what a run of the whole file
// gives, numbered by the lines that end them. No server is needed: without a
// database every statement that reaches the query is refused and reported,
// and the events show what would have run.
namespace qm::test {
namespace {

// A statement event without the positions, which a file run gives within the
// lines it still holds.
struct Event {
    int line = 0;
    int statementNo = 0;
    std::uint8_t kind = 0;
    std::uint8_t objectKind = 0;
    std::string objectName;
    TScriptLines text;
    bool operator==(const Event&) const = default;
};

struct Outcome {
    std::vector<Event> events;
    int errors = 0;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    for (const Event& e : o.events) {
        *os << "\n  L" << e.line << " #" << e.statementNo << " kind " << int(e.kind);
        for (const std::string& t : e.text) *os << " [" << t << "]";
    }
    *os << "\n  errors " << o.errors;
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

Event EventOf(int line, int statementNo, const TStatementDesc& d, const TScriptLines& text) {
    return {line, statementNo, d.Kind, d.ObjectKind, d.ObjectName, text};
}

// The whole file split as its lines come, nothing let go: a statement is run
// at the line that ends it, and a line that ends statements or changes the
// terminator takes the next number.
Outcome ByAWholeRun(const TScriptLines& file) {
    Outcome o;
    TFbScriptParser parser;
    TScriptLines lines;
    TScriptMap map;
    std::string terminator = ";";
    std::size_t done = 0;
    int k = 0;
    for (const std::string& line : file) {
        lines.push_back(line);
        const std::string before = terminator;
        parser.SplitScriptIncremental(lines, terminator, map, false);
        bool ended = false;
        while (done < map.size() && map[done].EndPos.Col != 0) {
            const TStatementDesc& d = map[done++];
            o.events.push_back(
                EventOf(static_cast<int>(lines.size()), k + 1, d, TextBetween(lines, d)));
            if (ReachesTheQuery(d.Kind)) ++o.errors;
            ended = true;
        }
        if (ended || terminator != before) ++k;
    }
    return o;
}

TFbScripter& Recording(TFbScripter& scripter, Outcome& o) {
    scripter.BeforeStatementExecute = [&o](TFbScripter&, int line, int statementNo,
                                           const TStatementDesc& d, const TScriptLines* text) {
        o.events.push_back(EventOf(line, statementNo, d, text ? *text : TScriptLines{}));
    };
    scripter.OnExecuteError = [&o](TFbScripter&, int, int, const TScriptLines&, int,
                                   const std::string&, bool&, bool& stop) {
        ++o.errors;
        stop = false;
    };
    return scripter;
}

Outcome ByTheFileRun(const std::string& path) {
    Outcome o;
    TFbScripter scripter;
    Recording(scripter, o).RunScriptFile(path, ";");
    return o;
}

// The kinds and texts of the statements RunScript runs from the same text.
std::vector<std::pair<std::uint8_t, TScriptLines>> DirectStatements(const std::string& text) {
    Outcome o;
    TFbScripter scripter;
    Recording(scripter, o).SetScript(SplitTextLines(text));
    scripter.RunScript(1);
    std::vector<std::pair<std::uint8_t, TScriptLines>> out;
    for (const Event& e : o.events) out.emplace_back(e.kind, e.text);
    return out;
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
    // A comment opened after a complete statement stays a comment.
    "select 7 from t; /* opened here\n"
    "delete from t;\n"
    "closed here */ select 8 from t;\n",
    "insert into t values (1); /* two-line\n"
    "comment */\n"
    "insert into t values (2);\n",
    // A statement that begins on the line where a SET TERM ends, and
    // terminators of several characters.
    "SET TERM !! ; select 9 from t !! SET TERM ; !! select 10\n"
    "  from t;\n"
    "SET TERM ^ ;\n"
    "select 11 from t^ SET TERM ; ^ select 12 from t; select\n"
    "  13 from t;\n",
    // The last statement has no terminator and is not run.
    "select 14 from t;\n"
    "select 15\n"
    "  from t",
};

TEST(FileRunTest, RunsWhatARunOfTheWholeFileGives) {
    TempDir dir;
    for (const char* script : kScripts) {
        SCOPED_TRACE(script);
        const std::string path = dir.File("script.sql");
        WriteFile(path, script);
        const Outcome file = ByTheFileRun(path);
        EXPECT_EQ(file, ByAWholeRun(SplitTextLines(script)));

        // RunScript runs the same statements, and the last one even without
        // its terminator.
        auto direct = DirectStatements(script);
        std::vector<std::pair<std::uint8_t, TScriptLines>> run;
        for (const Event& e : file.events) run.emplace_back(e.kind, e.text);
        if (direct.size() == run.size() + 1) direct.pop_back();
        EXPECT_EQ(run, direct);
    }
}

TEST(FileRunTest, LongGeneratedScriptsRunWhatAWholeRunGives) {
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
        "select 3 from t; /* opens",
        "shuts */ select 4 from t;",
        "'text;",
        "more';",
        "SET TERM ^ ;",
        "end^",
        "SET TERM ; ^",
        "SET TERM !! ; select 5 from t !!",
        "end !! SET TERM ; !!",
        "-- note;",
        "",
        ";",
        "update t set a = 1; delete from t",
        "case when 1 = 1 then 1 else 2 end",
        "execute block as",
        "create function f returns int as begin return 1;",
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
            expected = ByAWholeRun(lines);
        } catch (const EFbScriptError&) {
            ruleThrew = true;
        }
        if (ruleThrew) {
            EXPECT_THROW(ByTheFileRun(path), EFbScriptError);
        } else {
            EXPECT_EQ(ByTheFileRun(path), expected);
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
    scripter.RunScriptFile(path, ";");
    EXPECT_EQ(failed, (std::vector<int>{1, 2}));
    EXPECT_EQ(scripter.StoppedAtStatement(), 3);
    EXPECT_EQ(scripter.FileLineCount(), 3);
}

TEST(FileRunTest, AFileThatCannotBeReadEndsTheRun) {
    TFbScripter scripter;
    TempDir dir;
    EXPECT_THROW(scripter.RunScriptFile(dir.File("missing.sql"), ";"), EFbScripterError);
}

}  // namespace
}  // namespace qm::test
