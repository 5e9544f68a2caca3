#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <tuple>

#include "tests/firebird/scripter/scripter_fixture.h"

namespace qm::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using Table = std::vector<std::vector<std::string>>;

// A database with a plain table T (ID) that the scripter runs on through a
// connection and a transaction of the caller's, as the data module has it.
class ScripterOnDatabase : public ScripterFixture {
protected:
    void SetUp() override {
        CreateDatabase(db_path_);
        db_ = Connect(db_path_);
        tr_ = std::make_unique<TFbTransaction>();
        tr_->SetDefaultDatabase(db_.get());
        scripter_.SetDatabase(db_.get());
        scripter_.SetTransaction(tr_.get());
        Run("CREATE TABLE T (ID INTEGER NOT NULL);");
    }
    void TearDown() override {
        if (tr_->Active()) tr_->RollBack();
    }
    // The IDs of T as another connection sees them after the caller commits.
    std::vector<std::string> CommittedIds() {
        if (tr_->Active()) tr_->Commit();
        return Column(db_path_, "SELECT ID FROM T ORDER BY ID");
    }

    std::string db_path_ = Path("run.fdb");
    std::unique_ptr<TFbDatabase> db_;
    std::unique_ptr<TFbTransaction> tr_;
};

TEST_F(ScripterFixture, CreatesAndBuildsADatabaseWithAProcedureAndATrigger) {
    const std::string db = Path("built.fdb");
    Answer(true, false);
    bool writesWereAsynchronous = false;
    scripter_.BeforeStatementExecute = [&](TFbScripter& s, int, int, const TStatementDesc& d,
                                           const TScriptLines*) {
        if (d.Kind != skData || s.Database() == nullptr) return;
        const auto& params = s.Database()->DBParams();
        writesWereAsynchronous |=
            std::find(params.begin(), params.end(), "force_write=0") != params.end();
    };
    Run("SET SQL DIALECT 3;\n"
        "SET NAMES UTF8;\n"
        "CREATE DATABASE '" +
        db +
        "' USER 'SYSDBA' PASSWORD 'masterkey'\n"
        "  PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8;\n"
        "CREATE DOMAIN D_NAME AS VARCHAR(40) NOT NULL;\n"
        "CREATE GENERATOR G_ITEMS;\n"
        "CREATE TABLE ITEMS (ID INTEGER NOT NULL PRIMARY KEY, NAME D_NAME, QTY INTEGER);\n"
        "/* a comment; with a terminator */\n"
        "CREATE PROCEDURE ADD_ITEM (NAME VARCHAR(40), QTY INTEGER) RETURNS (NEW_ID INTEGER)\n"
        "AS\n"
        "BEGIN\n"
        "  NEW_ID = GEN_ID(G_ITEMS, 1);\n"
        "  IF (QTY > 100) THEN\n"
        "  BEGIN\n"
        "    QTY = 100;\n"
        "  END\n"
        "  INSERT INTO ITEMS (ID, NAME, QTY)\n"
        "    VALUES (:NEW_ID, :NAME, CASE WHEN :QTY < 0 THEN 0 ELSE :QTY END);\n"
        "END;\n"
        "SET TERM ^ ;\n"
        "CREATE TRIGGER ITEMS_BI FOR ITEMS BEFORE INSERT AS\n"
        "BEGIN\n"
        "  IF (NEW.ID IS NULL) THEN NEW.ID = GEN_ID(G_ITEMS, 1);\n"
        "  NEW.NAME = UPPER(NEW.NAME);\n"
        "END^\n"
        "SET TERM ; ^\n"
        "INSERT INTO ITEMS (NAME, QTY) VALUES ('bolt', 5);\n"
        "EXECUTE PROCEDURE ADD_ITEM('nut', 500);\n"
        "INSERT INTO ITEMS (NAME, QTY) VALUES ('it''s; here', -1);\n");

    EXPECT_THAT(errors_, IsEmpty());
    // The scripter's own connection was committed and let go.
    EXPECT_EQ(scripter_.Database(), nullptr);
    EXPECT_FALSE(scripter_.OwnDatabase());
    EXPECT_EQ(Rows(db, "SELECT ID, NAME, QTY FROM ITEMS ORDER BY ID"),
              (Table{{"1", "BOLT", "5"}, {"2", "NUT", "100"}, {"3", "IT'S; HERE", "-1"}}));
    // Written without synchronous writes, and switched back at the end.
    EXPECT_TRUE(writesWereAsynchronous);
    EXPECT_FALSE(scripter_.ForceWriteChanged());
    auto check = Connect(db);
    EXPECT_EQ(check->DatabaseInfoValue(52 /* isc_info_forced_writes */).value, 1);
    EXPECT_EQ(check->DatabaseInfoValue(62 /* isc_info_db_sql_dialect */).value, 3);
}

TEST_F(ScripterOnDatabase, PuttingBackTheWriteModeKeepsTheLastStatementsOfTheRun) {
    // The write mode goes back through a new attachment; the statements
    // after the last COMMIT survive it for the caller to commit.
    const std::string db = Path("second.fdb");
    Run("CREATE DATABASE '" + db +
        "' USER 'SYSDBA' PASSWORD 'masterkey';\n"
        "CREATE TABLE X (A INTEGER);\n"
        "INSERT INTO X VALUES (1);\n");
    EXPECT_EQ(db_->DBName(), db);
    EXPECT_TRUE(db_->Connected());
    EXPECT_FALSE(scripter_.ForceWriteChanged());
    if (tr_->Active()) tr_->Commit();
    EXPECT_EQ(Column(db, "SELECT A FROM X"), std::vector<std::string>{"1"});
}

TEST_F(ScripterFixture, CreatesAndDropsADatabaseInOneRun) {
    const std::string db = Path("dropped.fdb");
    Run("CREATE DATABASE '" + db +
        "' USER 'SYSDBA' PASSWORD 'masterkey';\n"
        "CREATE TABLE X (A INTEGER);\n"
        "DROP DATABASE;\n");
    EXPECT_FALSE(platform::FileExists(db));
    EXPECT_EQ(scripter_.Database(), nullptr);
}

TEST_F(ScripterFixture, SqlDialectOneGivesADialectOneDatabase) {
    const std::string db = Path("dialect1.fdb");
    Run("SET SQL DIALECT 1;\n"
        "CREATE DATABASE '" +
        db +
        "' USER 'SYSDBA' PASSWORD 'masterkey';\n"
        "CREATE TABLE D (V DOUBLE PRECISION);\n"
        "INSERT INTO D VALUES (7 / 2);\n");
    EXPECT_EQ(Connect(db, 1)->DatabaseInfoValue(62 /* isc_info_db_sql_dialect */).value, 1);
    // Integer division is a dialect 3 rule; dialect 1 divides as a fraction.
    EXPECT_EQ(Column(db, "SELECT V FROM D"), std::vector<std::string>{"3.5"});
}

TEST_F(ScripterOnDatabase, AWordForTheDialectEndsTheRunWithoutTheHandler) {
    Answer(false, false);
    scripter_.SetScript(
        SplitTextLines("INSERT INTO T VALUES (1);\n"
                       "SET SQL DIALECT three;\n"
                       "INSERT INTO T VALUES (2);\n"));
    EXPECT_THROW(
        {
            try {
                scripter_.RunScript(1);
            } catch (const EConvertError& e) {
                EXPECT_STREQ(e.what(), "'three' is not a valid integer value");
                throw;
            }
        },
        EConvertError);
    EXPECT_THAT(errors_, IsEmpty());
    EXPECT_EQ(CommittedIds(), std::vector<std::string>{"1"});
}

struct FailureCase {
    const char* name;
    bool stop;
    std::vector<std::string> committed;
    int stoppedAt;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ThirdStatementFails : public ScripterOnDatabase,
                            public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ThirdStatementFails, TheHandlerDecides) {
    const FailureCase& c = GetParam();
    Answer(true, c.stop);
    Run("INSERT INTO T VALUES (1);\n"
        "INSERT INTO T VALUES (2);\n"
        "\n"
        "  INSERT INTO MISSING\n"
        "    VALUES (3);\n"
        "INSERT INTO T VALUES (4);\n");

    ASSERT_EQ(errors_.size(), 1u);
    const ReportedError& e = errors_[0];
    EXPECT_EQ(e.statementNo, 3);
    EXPECT_EQ(e.line, 4);
    EXPECT_EQ(e.statement, (TScriptLines{"INSERT INTO MISSING", "    VALUES (3)"}));
    EXPECT_EQ(e.sqlCode, -204);
    EXPECT_THAT(e.msg, HasSubstr("MISSING"));
    EXPECT_TRUE(e.doRollBackIn);
    EXPECT_TRUE(e.stopIn);
    // The rollback took the uncommitted statements 1 and 2 with it.
    EXPECT_EQ(CommittedIds(), c.committed);
    EXPECT_EQ(scripter_.StoppedAtStatement(), c.stoppedAt);
}

INSTANTIATE_TEST_SUITE_P(Answers, ThirdStatementFails,
                         ::testing::Values(FailureCase{"GoOn", false, {"4"}, 0},
                                           FailureCase{"Stop", true, {}, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScripterOnDatabase, ARefusalRollsBackWorkTheTransactionHeldBeforeTheRun) {
    // Refusals in a transaction where nothing has succeeded keep it; one
    // that holds the caller's work is rolled back all the same.
    TFbQuery q;
    q.SetDatabase(db_.get());
    q.SetTransaction(tr_.get());
    tr_->StartTransaction();
    q.SetSqlText({"INSERT INTO T VALUES (9)"});
    q.ExecuteQuery();
    Answer(true, false);
    Run("INSERT INTO MISSING VALUES (1);\n"
        "INSERT INTO MISSING VALUES (2);\n"
        "INSERT INTO T VALUES (3);\n"
        "INSERT INTO MISSING VALUES (4);\n"
        "INSERT INTO T VALUES (5);\n");
    EXPECT_EQ(errors_.size(), 3u);
    EXPECT_EQ(CommittedIds(), std::vector<std::string>{"5"});
}

TEST_F(ScripterOnDatabase, WithoutAHandlerARefusalLeavesTheRun) {
    scripter_.SetScript(
        SplitTextLines("INSERT INTO T VALUES (1);\n"
                       "INSERT INTO MISSING VALUES (2);\n"
                       "INSERT INTO T VALUES (3);\n"));
    EXPECT_THROW(scripter_.RunScript(1), EFbEngineError);
    EXPECT_EQ(CommittedIds(), std::vector<std::string>{"1"});
}

TEST_F(ScripterOnDatabase, ACommitThatIsRefusedIsRolledBackWhateverTheAnswer) {
    // A deferred foreign key does not exist in Firebird; a check that fails
    // at commit does: a unique index built in the same transaction over
    // duplicate rows is refused when the transaction commits.
    Answer(false, false);
    Run("SET AUTODDL OFF;\n"
        "INSERT INTO T VALUES (5);\n"
        "INSERT INTO T VALUES (5);\n"
        "CREATE UNIQUE INDEX T_UNIQUE ON T (ID);\n"
        "COMMIT;\n"
        "INSERT INTO T VALUES (6);\n");
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0].statementNo, 5);
    EXPECT_FALSE(errors_[0].doRollBackIn);
    EXPECT_EQ(CommittedIds(), std::vector<std::string>{"6"});
}

struct AutoDdlCase {
    const char* name;
    const char* script;
    std::vector<std::string> tables;
    bool autoDdlAfter;
};

void PrintTo(const AutoDdlCase& c, std::ostream* os) { *os << c.name; }

class AutoDdl : public ScripterOnDatabase, public ::testing::WithParamInterface<AutoDdlCase> {};

TEST_P(AutoDdl, CommitsSchemaStatementsOnlyWhenOn) {
    Run(GetParam().script);
    // What the run left open goes; what AutoDDL committed stays.
    if (tr_->Active()) tr_->RollBack();
    EXPECT_EQ(Column(db_path_,
                     "SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS "
                     "WHERE RDB$RELATION_NAME STARTING WITH 'A_' ORDER BY 1"),
              GetParam().tables);
    EXPECT_EQ(scripter_.AutoDDL, GetParam().autoDdlAfter);
    EXPECT_EQ(CommittedIds(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AutoDdl,
    ::testing::Values(
        // The table is usable by the next statement of the same run.
        AutoDdlCase{"On",
                    "CREATE TABLE A_ON (X INTEGER);\nINSERT INTO A_ON VALUES (1);\n"
                    "INSERT INTO T SELECT X FROM A_ON;\n",
                    {"A_ON"},
                    true},
        AutoDdlCase{"Off", "SET AUTODDL OFF;\nCREATE TABLE A_OFF (X INTEGER);\n", {}, false},
        AutoDdlCase{"OffAgain",
                    "set autoddl off;\nCREATE TABLE A_1 (X INTEGER);\n"
                    "SET AUTODDL ON;\nCREATE TABLE A_2 (X INTEGER);\n",
                    {"A_1", "A_2"},
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScripterOnDatabase, CommitRollbackAndReconnectStatements) {
    Run("INSERT INTO T VALUES (1);\n"
        "COMMIT;\n"
        "INSERT INTO T VALUES (2);\n"
        "ROLLBACK;\n"
        "INSERT INTO T VALUES (3);\n"
        "RECONNECT;\n"
        "INSERT INTO T VALUES (4);\n"
        "ROLLBACK WORK;\n"
        "COMMIT;\n");
    EXPECT_TRUE(db_->Connected());
    EXPECT_EQ(CommittedIds(), (std::vector<std::string>{"1", "3"}));
}

TEST_F(ScripterFixture, ConnectTakesUserPasswordRoleNamesAndLibraryFromTheScript) {
    const std::string db = Path("connect.fdb");
    CreateDatabase(db);
    {
        TFbScripter setup;
        auto conn = Connect(db);
        setup.SetDatabase(conn.get());
        setup.SetScript(
            SplitTextLines("CREATE TABLE WHO (U VARCHAR(63), R VARCHAR(63), CS VARCHAR(63));\n"
                           "CREATE ROLE R_TEST;\n"
                           "GRANT R_TEST TO SYSDBA;\n"));
        setup.RunScript(1);
    }
    std::vector<std::string> params;
    std::string library;
    int dialect = 0;
    scripter_.BeforeStatementExecute = [&](TFbScripter& s, int, int, const TStatementDesc& d,
                                           const TScriptLines*) {
        if (d.Kind != skData) return;
        params = s.Database()->DBParams();
        library = s.Database()->LibraryName();
        dialect = s.Database()->SQLDialect();
    };
    Answer(false, false);
    Run("SET NAMES win1251;\n"
        "SET CLIENTLIB '" +
        std::string(platform::kDefaultClientLibrary) +
        "';\n"
        "CONNECT '" +
        db +
        "' USER 'SYSDBA' PASSWORD \"masterkey\"\n"
        "  ROLE R_TEST;\n"
        "INSERT INTO WHO SELECT CURRENT_USER, CURRENT_ROLE, C.RDB$CHARACTER_SET_NAME\n"
        "  FROM MON$ATTACHMENTS A JOIN RDB$CHARACTER_SETS C\n"
        "    ON C.RDB$CHARACTER_SET_ID = A.MON$CHARACTER_SET_ID\n"
        "  WHERE A.MON$ATTACHMENT_ID = CURRENT_CONNECTION;\n");

    EXPECT_THAT(errors_, IsEmpty());
    EXPECT_THAT(params, ElementsAre("user_name=SYSDBA", "password=masterkey",
                                    "sql_role_name=R_TEST", "lc_ctype=WIN1251"));
    EXPECT_EQ(library, platform::kDefaultClientLibrary);
    EXPECT_EQ(dialect, 3);
    ASSERT_EQ(Rows(db, "SELECT U, R, CS FROM WHO").size(), 1u);
    const auto row = Rows(db, "SELECT U, R, CS FROM WHO")[0];
    EXPECT_EQ(row[0], "SYSDBA");
    EXPECT_EQ(row[1], "R_TEST");
    EXPECT_EQ(Trimmed(row[2]), "WIN1251");
}

TEST_F(ScripterFixture, AConnectThatFailsIsReportedWithoutRollbackAndTheRunGoesOn) {
    Answer(true, false);
    RecordStatements();
    Run("CONNECT '" + Path("missing.fdb") +
        "' USER 'SYSDBA' PASSWORD 'masterkey';\n"
        "SET AUTODDL OFF;\n");
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0].statementNo, 1);
    EXPECT_FALSE(errors_[0].doRollBackIn);
    EXPECT_FALSE(scripter_.AutoDDL);
    EXPECT_EQ(scripter_.Database(), nullptr);
}

TEST_F(ScripterOnDatabase, DescribeWritesDescriptionsOfTablesFieldsAndParameters) {
    Run("ALTER TABLE T ADD NAME VARCHAR(20);\n"
        "SET TERM ^;\n"
        "CREATE PROCEDURE P (AMOUNT INTEGER) AS BEGIN END^\n"
        "SET TERM ;^\n"
        "DESCRIBE TABLE T 'Items; ''all'' of them' and what follows;\n"
        "DESCRIBE FIELD NAME TABLE T 'The name';\n"
        "DESCRIBE PARAMETER AMOUNT PROCEDURE P 'Amount\n"
        "over two lines';\n"
        "DESCRIBE PROCEDURE P unquoted text;\n");
    tr_->Commit();
    EXPECT_EQ(
        Column(db_path_, "SELECT RDB$DESCRIPTION FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'T'"),
        std::vector<std::string>{"Items; 'all' of them"});
    EXPECT_EQ(Column(db_path_,
                     "SELECT RDB$DESCRIPTION FROM RDB$RELATION_FIELDS "
                     "WHERE RDB$RELATION_NAME = 'T' AND RDB$FIELD_NAME = 'NAME'"),
              std::vector<std::string>{"The name"});
    EXPECT_EQ(Column(db_path_,
                     "SELECT RDB$DESCRIPTION FROM RDB$PROCEDURE_PARAMETERS "
                     "WHERE RDB$PROCEDURE_NAME = 'P' AND RDB$PARAMETER_NAME = 'AMOUNT'"),
              std::vector<std::string>{"Amount\nover two lines"});
    // Without quotes the rest goes as it stands, its line break included.
    EXPECT_EQ(Column(db_path_,
                     "SELECT RDB$DESCRIPTION FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'P'"),
              std::vector<std::string>{"unquoted text\n"});
}

TEST_F(ScripterOnDatabase, DescribeOfAnUnsupportedKindEndsTheRun) {
    Answer(false, false);
    scripter_.SetScript(SplitTextLines("DESCRIBE INDEX X 'text';\nINSERT INTO T VALUES (1);\n"));
    try {
        scripter_.RunScript(1);
        FAIL() << "no error";
    } catch (const EFbScripterError& e) {
        EXPECT_STREQ(e.what(), "Unsupported DESCRIBE type INDEX");
    }
    EXPECT_THAT(errors_, IsEmpty());
    EXPECT_EQ(CommittedIds(), std::vector<std::string>{});
}

TEST_F(ScripterOnDatabase, InputRunsASecondFileLineByLine) {
    const std::string second = Path("second.sql");
    WriteFile(second,
              "INSERT INTO T VALUES (10);\r\n"
              "SET TERM ^ ;\r\n"
              "CREATE PROCEDURE P2 AS BEGIN\r\n"
              "  INSERT INTO T VALUES (11);\r\n"
              "END^\r\n"
              "SET TERM ; ^\r\n"
              "EXECUTE PROCEDURE P2;\r\n"
              "INSERT INTO T\r\n"
              "  VALUES (12); INSERT INTO T VALUES (13);\r\n"
              "INSERT INTO T VALUES (14)");
    RecordStatements();
    Run("INSERT INTO T VALUES (1);\n"
        "INPUT '" +
        second +
        "';\n"
        "INSERT INTO T VALUES (2);\n");
    EXPECT_EQ(scripter_.FileLineCount(), 10);
    // The last line of the file has no terminator and does not run.
    EXPECT_EQ(CommittedIds(), (std::vector<std::string>{"1", "2", "10", "11", "12", "13"}));

    // Inside the file the events get the line that ended the statement and
    // the number of its chunk; the two statements ended by line 9 share one.
    std::vector<std::tuple<int, int, std::string>> events;
    for (const SeenStatement& e : seen_) events.emplace_back(e.line, e.statementNo, e.text.at(0));
    EXPECT_THAT(events, ElementsAre(std::tuple{1, 1, "INSERT INTO T VALUES (1)"},
                                    std::tuple{2, 2, "INPUT '" + second + "'"},
                                    std::tuple{1, 1, "INSERT INTO T VALUES (10)"},
                                    std::tuple{5, 3, "CREATE PROCEDURE P2 AS BEGIN"},
                                    std::tuple{7, 5, "EXECUTE PROCEDURE P2"},
                                    std::tuple{9, 6, "INSERT INTO T"},
                                    std::tuple{9, 6, "INSERT INTO T VALUES (13)"},
                                    std::tuple{3, 3, "INSERT INTO T VALUES (2)"}));
    EXPECT_EQ(seen_[5].text, (TScriptLines{"INSERT INTO T", "  VALUES (12)"}));
}

TEST_F(ScripterOnDatabase, InputOfAMissingFileEndsTheRun) {
    Answer(false, false);
    scripter_.SetScript(
        SplitTextLines("INPUT '" + Path("none.sql") + "';\nINSERT INTO T VALUES (1);\n"));
    EXPECT_THROW(scripter_.RunScript(1), EFbScripterError);
    EXPECT_THAT(errors_, IsEmpty());
    EXPECT_EQ(CommittedIds(), std::vector<std::string>{});
}

TEST_F(ScripterOnDatabase, BlobFileParametersReadTheirHexadecimalRanges) {
    const std::string blobs = Path("data.lob");
    WriteFile(blobs, "0123456789ABCDEFGHIJ");
    Answer(false, false);
    Run("CREATE TABLE B (ID INTEGER, DATA BLOB SUB_TYPE 0);\n"
        "SET BLOBFILE '" +
        blobs +
        "';\n"
        "INSERT INTO B VALUES (1, :h0_A);\n"
        "INSERT INTO B VALUES (2, :HA_A);\n"
        "INSERT INTO B VALUES (3, :H5_0);\n"
        // Lower-case letters count as 0: a length of 0x10.
        "INSERT INTO B VALUES (4, :h0_1a);\n"
        "INSERT INTO B VALUES (5, :H13_1);\n"
        // 0x10 + 0x5 is one byte past the end of the file.
        "INSERT INTO B VALUES (6, :H10_5);\n"
        "INSERT INTO B VALUES (7, :HFFFFFFFFFFFFFFFF_FFFFFFFFFFFFFFFF);\n"
        // Only the blob file gives values.
        "INSERT INTO B VALUES (:ID, :h0_1);\n");
    tr_->Commit();
    EXPECT_EQ(Rows(db_path_, "SELECT ID, DATA FROM B ORDER BY ID"),
              (Table{{"1", "0123456789"},
                     {"2", "ABCDEFGHIJ"},
                     {"3", "<null>"},
                     {"4", "0123456789ABCDEF"},
                     {"5", "J"}}));
    ASSERT_EQ(errors_.size(), 3u);
    EXPECT_EQ(errors_[2].msg,
              "The statement has parameters that the script gives no values for: :ID.");
    EXPECT_EQ(errors_[0].statementNo, 8);
    EXPECT_THAT(errors_[0].msg, HasSubstr("H10_5"));
    EXPECT_THAT(errors_[0].msg, HasSubstr("past the end of the blob file"));
    EXPECT_EQ(errors_[1].statementNo, 9);
    EXPECT_THAT(errors_[1].msg, HasSubstr("HFFFFFFFFFFFFFFFF_FFFFFFFFFFFFFFFF"));
}

TEST_F(ScripterOnDatabase, BatchOnFirebirdRunsItsStatementsOneByOneAtBatchExecute) {
    const std::string script =
        "BATCH START;\n"
        "INSERT INTO T VALUES (1);\n"
        "INSERT INTO MISSING VALUES (2);\n"
        "BATCH EXECUTE;\n"
        "INSERT INTO T VALUES (3);\n";
    const std::string file = Path("batch.sql");
    WriteFile(file, script);
    Answer(false, false);
    RecordStatements();
    Run(script);
    scripter_.RunScriptFile(file, ";");

    EXPECT_FALSE(scripter_.BatchMode());
    EXPECT_THAT(scripter_.BatchTexts(), IsEmpty());
    // The same events from the script and from the file: nothing of the batch
    // before BATCH EXECUTE, then its statements with their own numbers.
    ASSERT_EQ(seen_.size(), 8u);
    for (std::size_t i : {0u, 4u}) {
        EXPECT_EQ(seen_[i].desc.Kind, skBatchExecute);
        EXPECT_FALSE(seen_[i].hasText);
        EXPECT_EQ(seen_[i].line, 4);
        EXPECT_EQ(seen_[i].statementNo, 4);
        EXPECT_EQ(seen_[i + 1].text, TScriptLines{"INSERT INTO T VALUES (1)"});
        EXPECT_EQ(seen_[i + 1].statementNo, 2);
        EXPECT_EQ(seen_[i + 1].line, 2);
        EXPECT_EQ(seen_[i + 2].statementNo, 3);
        EXPECT_EQ(seen_[i + 3].text, TScriptLines{"INSERT INTO T VALUES (3)"});
        EXPECT_EQ(seen_[i + 3].statementNo, 5);
    }
    // A refusal inside the batch is reported as any other.
    ASSERT_EQ(errors_.size(), 2u);
    EXPECT_EQ(errors_[0].statementNo, 3);
    EXPECT_EQ(errors_[0].line, 3);
    EXPECT_EQ(errors_[1].statementNo, 3);
    EXPECT_THAT(errors_[1].msg, HasSubstr("MISSING"));
    EXPECT_EQ(CommittedIds(), (std::vector<std::string>{"1", "1", "3", "3"}));
}

TEST_F(ScripterOnDatabase, ABatchNeverExecutedIsReportedAndClosed) {
    Answer(false, false);
    Run("INSERT INTO T VALUES (1);\n"
        "BATCH START;\n"
        "INSERT INTO T VALUES (2);\n");
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0].statementNo, 2);
    EXPECT_EQ(errors_[0].line, 2);
    EXPECT_EQ(errors_[0].statement, TScriptLines{"BATCH START"});
    EXPECT_EQ(errors_[0].msg,
              "BATCH START without BATCH EXECUTE: the statements after it, 1 in all, were not "
              "run.");
    EXPECT_FALSE(scripter_.BatchMode());

    // The next run is not taken into it; a second BATCH START drops the
    // first batch with the same report.
    errors_.clear();
    Run("INSERT INTO T VALUES (3);\n"
        "BATCH START; INSERT INTO T VALUES (4); INSERT INTO T VALUES (5);\n"
        "BATCH START; INSERT INTO T VALUES (6); BATCH EXECUTE;\n");
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_THAT(errors_[0].msg, HasSubstr("2 in all"));
    EXPECT_EQ(CommittedIds(), (std::vector<std::string>{"1", "3", "6"}));

    // Without a handler the report leaves the run.
    scripter_.OnExecuteError = nullptr;
    scripter_.SetScript(SplitTextLines("BATCH START;\nINSERT INTO T VALUES (7);\n"));
    EXPECT_THROW(scripter_.RunScript(1), EFbClientError);
    EXPECT_FALSE(scripter_.BatchMode());
}

struct WriteModeCase {
    const char* name;
    // The script, with A and B standing for the two database paths.
    const char* script;
    int forcedWritesA;
    int forcedWritesB;
};

void PrintTo(const WriteModeCase& c, std::ostream* os) { *os << c.name; }

class ForcedWrites : public ScripterFixture, public ::testing::WithParamInterface<WriteModeCase> {
protected:
    static int ForcedWritesOf(const std::string& db) {
        return static_cast<int>(
            Connect(db)->DatabaseInfoValue(52 /* isc_info_forced_writes */).value);
    }
};

TEST_P(ForcedWrites, ComeBackOnEveryDatabaseTheRunCreatedAndNoOther) {
    const std::string a = Path("a.fdb");
    const std::string b = Path("b.fdb");
    // B exists already, and its owner runs it without forced writes.
    CreateDatabase(b);
    {
        TFbDatabase db;
        db.SetDBName(b);
        db.SetLibraryName(platform::kDefaultClientLibrary);
        db.SetDBParams({"user_name=SYSDBA", "password=masterkey", "force_write=0"});
        db.Connect();
        db.Disconnect();
    }
    ASSERT_EQ(ForcedWritesOf(b), 0);
    std::string script = GetParam().script;
    for (std::size_t at; (at = script.find("{A}")) != std::string::npos;) script.replace(at, 3, a);
    for (std::size_t at; (at = script.find("{B}")) != std::string::npos;) script.replace(at, 3, b);
    // B made again by the script: it goes first.
    if (script.find("CREATE DATABASE '" + b) != std::string::npos) std::remove(b.c_str());
    Answer(false, false);
    Run(script);
    EXPECT_THAT(errors_, IsEmpty());
    EXPECT_FALSE(scripter_.ForceWriteChanged());
    EXPECT_EQ(ForcedWritesOf(a), GetParam().forcedWritesA);
    EXPECT_EQ(ForcedWritesOf(b), GetParam().forcedWritesB);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ForcedWrites,
    ::testing::Values(WriteModeCase{"TwoCreatedDatabases",
                                    "CREATE DATABASE '{A}' USER 'SYSDBA' PASSWORD 'masterkey';\n"
                                    "CREATE TABLE X (A INTEGER);\n"
                                    "CREATE DATABASE '{B}' USER 'SYSDBA' PASSWORD 'masterkey';\n"
                                    "CREATE TABLE Y (A INTEGER);\n",
                                    1, 1},
                      WriteModeCase{"ACreatedDatabaseThenAConnect",
                                    "CREATE DATABASE '{A}' USER 'SYSDBA' PASSWORD 'masterkey';\n"
                                    "CREATE TABLE X (A INTEGER);\n"
                                    "CONNECT '{B}' USER 'SYSDBA' PASSWORD 'masterkey';\n"
                                    "CREATE TABLE Y (A INTEGER);\n",
                                    1, 0},
                      WriteModeCase{"ACreatedDatabaseLeftByDisconnect",
                                    "CREATE DATABASE '{A}' USER 'SYSDBA' PASSWORD 'masterkey';\n"
                                    "CREATE TABLE X (A INTEGER);\n"
                                    "DISCONNECT;\n",
                                    1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScripterOnDatabase, InputCyclesAndDeepNestingEndWithOneError) {
    const std::string a = Path("a.sql");
    const std::string b = Path("b.sql");
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        const char* error;
    };
    std::vector<std::pair<std::string, std::string>> chain;
    for (int i = 0; i <= 40; ++i) {
        chain.emplace_back(Path("f" + std::to_string(i) + ".sql"),
                           "INPUT '" + Path("f" + std::to_string(i + 1) + ".sql") + "';\n");
    }
    const Case cases[] = {
        {"self",
         {{a, "INSERT INTO T VALUES (1);\nINPUT '" + a + "';\nINSERT INTO T VALUES (2);\n"}},
         "the file is already being run (an INPUT cycle)"},
        {"two files",
         {{a, "INSERT INTO T VALUES (1);\nINPUT '" + b + "';\n"},
          {b, "INSERT INTO T VALUES (2);\nINPUT '" + a + "';\n"}},
         "the file is already being run (an INPUT cycle)"},
        {"deep", chain, "INPUT files nest deeper than 32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [path, text] : c.files) WriteFile(path, text);
        Answer(false, false);
        scripter_.SetScript(SplitTextLines("INPUT '" + c.files.front().first + "';\n"));
        try {
            scripter_.RunScript(1);
            ADD_FAILURE() << "no error";
        } catch (const EFbScripterError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.error));
        }
        EXPECT_THAT(errors_, IsEmpty());
        if (tr_->Active()) tr_->RollBack();
    }
    // The scripter is whole and runs the next script.
    Run("INSERT INTO T VALUES (3);\n");
    EXPECT_EQ(CommittedIds(), std::vector<std::string>{"3"});
}

TEST_F(ScripterFixture, StatementNumbersBeyondTheMap) {
    scripter_.SetScript(SplitTextLines("SET AUTODDL OFF;\nSET AUTODDL ON;\nSET NAMES X;\nSET A"));
    scripter_.RunScript(5);
    EXPECT_EQ(scripter_.StatementCount(), 4);
    EXPECT_TRUE(scripter_.AutoDDL);
    TScriptLines text;
    try {
        scripter_.GetStatement(5, text);
        FAIL() << "no error";
    } catch (const EFbScripterError& e) {
        EXPECT_STREQ(e.what(), "Statement №5 don't exist");
    }
    // The last statement has no terminator and is taken all the same.
    EXPECT_EQ(scripter_.GetStatement(4, text).Kind, skSet);
    EXPECT_EQ(text, TScriptLines{"SET A"});
}

TEST(SplitTextLinesTest, LineEnds) {
    EXPECT_THAT(SplitTextLines(""), IsEmpty());
    EXPECT_EQ(SplitTextLines("\n"), TScriptLines{""});
    EXPECT_EQ(SplitTextLines("a\r\nb\rc\nd"), (TScriptLines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitTextLines("a\n\nb\r\n"), (TScriptLines{"a", "", "b"}));
}

}  // namespace
}  // namespace qm::test
