#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/firebird/scripter/scripter_fixture.h"
#include "tests/support/command.h"

// The same script run three ways: by the scripter from its text, by the
// scripter through INPUT, and by isql-fb. The databases they leave must hold
// the same metadata and rows, and forced writes where isql-fb leaves them.
namespace qm::test {
namespace {

using ::testing::IsEmpty;

// What a scripter run reported through its error event.
struct Reported {
    std::vector<std::string> messages;
};

// Runs the lines on the scripter as the script run does (a connection and a
// transaction of the caller's, committed at the end), except that a refused
// statement is neither rolled back nor the end: isql-fb goes on the same way.
Reported RunScripter(const std::string& db, const TScriptLines& lines) {
    Reported r;
    auto conn = Connect(db);
    TFbTransaction tr;
    tr.SetDefaultDatabase(conn.get());
    {
        TFbScripter scripter;
        scripter.SetDatabase(conn.get());
        scripter.SetTransaction(&tr);
        scripter.OnExecuteError = [&r](TFbScripter&, int, int, const TScriptLines&, int,
                                       const std::string& msg, bool& rollBack, bool& stop) {
            r.messages.push_back(msg);
            rollBack = false;
            stop = false;
        };
        scripter.SetScript(lines);
        scripter.RunScript(1);
        if (tr.Active()) tr.Commit();
    }
    conn->Disconnect();
    return r;
}

std::string RunIsql(const std::string& db, const std::string& file) {
    return RunCommand(std::string(QM_ISQL) + " -q -user SYSDBA -password masterkey -i " +
                      ShellQuote(file) + " " + ShellQuote(db));
}

std::vector<std::string> Digest(const std::string& db) { return DatabaseDigest(*Connect(db)); }

struct ParityCase {
    const char* name;
    const char* script;
    // The same for isql-fb where it needs SET TERM around bodies.
    const char* isqlScript;
    std::vector<std::string> ids;  // T after the run
    int refused;                   // statements the scripter reports
};

void PrintTo(const ParityCase& c, std::ostream* os) { *os << c.name; }

class ThreeWays : public ::testing::TestWithParam<ParityCase> {
protected:
    TempDir dir_;
};

constexpr const char* kPrelude = "CREATE TABLE T (ID INTEGER);\n";

TEST_P(ThreeWays, LeaveTheDatabaseIsqlLeaves) {
    const ParityCase& c = GetParam();
    const std::string script = std::string(kPrelude) + c.script;
    const std::string file = dir_.File("script.sql");
    WriteFile(file, script);
    const std::string isqlFile = dir_.File("isql.sql");
    WriteFile(isqlFile, std::string(kPrelude) + (c.isqlScript ? c.isqlScript : c.script));

    const std::string direct = dir_.File("direct.fdb");
    const std::string input = dir_.File("input.fdb");
    const std::string isql = dir_.File("isql.fdb");
    for (const std::string& db : {direct, input, isql}) CreateDatabase(db);

    const Reported byText = RunScripter(direct, SplitTextLines(script));
    const Reported byInput = RunScripter(input, {"INPUT '" + file + "';"});
    const std::string isqlOutput = RunIsql(isql, isqlFile);

    EXPECT_EQ(byText.messages.size(), static_cast<std::size_t>(c.refused));
    EXPECT_EQ(byInput.messages, byText.messages);
    EXPECT_EQ(Column(direct, "SELECT ID FROM T ORDER BY ID"), c.ids);
    const std::vector<std::string> expected = Digest(isql);
    EXPECT_EQ(Digest(direct), expected) << isqlOutput;
    EXPECT_EQ(Digest(input), expected) << isqlOutput;
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ThreeWays,
    ::testing::Values(
        ParityCase{"ACommentAfterACommitKeepsWhatItEncloses",
                   "INSERT INTO T VALUES (1);\n"
                   "COMMIT; /* keep disabled:\n"
                   "DELETE FROM T;\n"
                   "COMMIT; */\n"
                   "INSERT INTO T VALUES (2);\n",
                   nullptr,
                   {"1", "2"},
                   0},
        ParityCase{"ACommentOverTwoLinesAfterAStatement",
                   "INSERT INTO T VALUES (1); /* two-line\n"
                   "comment */\n"
                   "INSERT INTO T VALUES (2);\n",
                   nullptr,
                   {"1", "2"},
                   0},
        ParityCase{"BlockCommentsAtEveryPlaceOfALine",
                   "/* before */ INSERT INTO T VALUES (1); /* between */ INSERT INTO T VALUES (2);"
                   " /* after\n"
                   "*/ INSERT /* inside; */ INTO T VALUES (3) /* before the terminator */;\n"
                   "/* alone; */\n"
                   "INSERT INTO T VALUES (4) /* over\n"
                   "the terminator's line */ ; /* SET TERM ^ ; */ INSERT INTO T VALUES (5);\n",
                   nullptr,
                   {"1", "2", "3", "4", "5"},
                   0},
        ParityCase{"SetTermAtEveryPlaceOfALine",
                   "INSERT INTO T VALUES (1); SET TERM ^ ;\n"
                   "INSERT INTO T VALUES (2)^ SET TERM ; ^ INSERT INTO T VALUES (3);\n"
                   "SET TERM ^ ; CREATE PROCEDURE P AS BEGIN INSERT INTO T VALUES (4); END^\n"
                   "SET TERM ; ^ EXECUTE PROCEDURE P; SET\n"
                   "  TERM ^ ;\n"
                   "INSERT INTO T VALUES (5)^ SET TERM ;^\n",
                   nullptr,
                   {"1", "2", "3", "4", "5"},
                   0},
        ParityCase{"TerminatorsOfSeveralCharacters",
                   "SET TERM !! ;\n"
                   "CREATE PROCEDURE P2 AS BEGIN INSERT INTO T VALUES (1); END !!\n"
                   "EXECUTE PROCEDURE P2 !! INSERT INTO T VALUES (2) !!\n"
                   "SET TERM ; !! INSERT INTO T VALUES (3);\n",
                   nullptr,
                   {"1", "2", "3"},
                   0},
        // isql-fb refuses the BATCH lines and runs what stands between them.
        ParityCase{"BatchAtEveryPlaceOfALine",
                   "INSERT INTO T VALUES (1); BATCH START; INSERT INTO T VALUES (2);\n"
                   "INSERT INTO T VALUES (3); /* ; */ BATCH EXECUTE; INSERT INTO T VALUES (4);\n"
                   "BATCH START;\n"
                   "INSERT INTO T\n"
                   "  VALUES (5); BATCH EXECUTE;\n",
                   nullptr,
                   {"1", "2", "3", "4", "5"},
                   0},
        ParityCase{"FunctionsAndPackagesKeepTheirBodies",
                   "CREATE FUNCTION F1 RETURNS INT AS BEGIN RETURN 1; END;\n"
                   "CREATE PACKAGE PK AS BEGIN FUNCTION TWO RETURNS INT; END;\n"
                   "CREATE PACKAGE BODY PK AS BEGIN\n"
                   "  FUNCTION TWO RETURNS INT AS BEGIN RETURN 2; END\n"
                   "END;\n"
                   "INSERT INTO T SELECT F1() FROM RDB$DATABASE;\n"
                   "INSERT INTO T SELECT PK.TWO() FROM RDB$DATABASE;\n",
                   "SET TERM ^ ;\n"
                   "CREATE FUNCTION F1 RETURNS INT AS BEGIN RETURN 1; END^\n"
                   "CREATE PACKAGE PK AS BEGIN FUNCTION TWO RETURNS INT; END^\n"
                   "CREATE PACKAGE BODY PK AS BEGIN\n"
                   "  FUNCTION TWO RETURNS INT AS BEGIN RETURN 2; END\n"
                   "END^\n"
                   "SET TERM ; ^\n"
                   "INSERT INTO T SELECT F1() FROM RDB$DATABASE;\n"
                   "INSERT INTO T SELECT PK.TWO() FROM RDB$DATABASE;\n",
                   {"1", "2"},
                   0},
        ParityCase{"ParameterMarkersAreRefused",
                   "INSERT INTO T VALUES (1);\n"
                   "INSERT INTO T VALUES (:X);\n"
                   "INSERT INTO T VALUES (?);\n"
                   "UPDATE T SET ID = 5 WHERE ID = :ID;\n"
                   "INSERT INTO T VALUES (2);\n",
                   nullptr,
                   {"1", "2"},
                   3}),
    [](const auto& info) { return std::string(info.param.name); });

// Firebird's own example script, unchanged.
std::string EmployeeScript() {
    const char* const dirs[] = {
        "/usr/share/doc/firebird3.0-common-doc/examples/",
        "/usr/share/firebird/examples/empbuild/",
    };
    for (const char* dir : dirs) {
        const std::string plain = std::string(dir) + "employee.sql";
        if (platform::FileExists(plain)) return ReadFile(plain);
        if (platform::FileExists(plain + ".gz"))
            return RunCommand("gzip -dc " + ShellQuote(plain + ".gz"));
    }
    return {};
}

// The working directory for the life of the object: the script names its
// database relative to it.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& dir) : saved_(std::filesystem::current_path()) {
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
    }
    ~WorkingDirectory() { std::filesystem::current_path(saved_); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path saved_;
};

TEST(EmployeeScriptTest, BuildsTheDatabaseIsqlBuildsDirectlyAndThroughInput) {
    const std::string script = EmployeeScript();
    if (script.empty()) GTEST_SKIP() << "Firebird's employee.sql is not installed";
    TempDir dir;
    const std::string file = dir.File("employee.sql");
    WriteFile(file, script);

    {
        WorkingDirectory cwd(dir.File("isql"));
        RunCommand(std::string(QM_ISQL) + " -q -i " + ShellQuote(file));
    }
    for (const bool throughInput : {false, true}) {
        SCOPED_TRACE(throughInput ? "through INPUT" : "directly");
        WorkingDirectory cwd(dir.File(throughInput ? "input" : "direct"));
        std::vector<std::string> refused;
        TFbScripter scripter;
        scripter.OnExecuteError = [&](TFbScripter&, int, int line, const TScriptLines&, int,
                                      const std::string& msg, bool&, bool& stop) {
            refused.push_back(std::to_string(line) + ": " + msg);
            stop = false;
        };
        scripter.SetScript(throughInput ? TScriptLines{"INPUT '" + file + "';"}
                                        : SplitTextLines(script));
        scripter.RunScript(1);
        EXPECT_THAT(refused, IsEmpty());
        EXPECT_EQ(scripter.Database(), nullptr);
    }
    const std::vector<std::string> expected = Digest(dir.File("isql/employee.fdb"));
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(Digest(dir.File("direct/employee.fdb")), expected);
    EXPECT_EQ(Digest(dir.File("input/employee.fdb")), expected);
}

}  // namespace
}  // namespace qm::test
