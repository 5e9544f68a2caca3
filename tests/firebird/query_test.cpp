#include "firebird/query.h"

#include <gtest/gtest.h>

#include <sstream>

#include "firebird/database.h"
#include "firebird/errors.h"
#include "firebird/transaction.h"
#include "tests/firebird/fb_test_support.h"

namespace qm {
namespace {

using test::ClientRefusal;
using test::OpenTestDatabase;
using test::QueryText;

class Queries : public ::testing::Test, protected test::EmbeddedFixture {
protected:
    void SetUp() override {
        test::CreateTestDatabase(DbPath(), 3);
        db_ = OpenTestDatabase(DbPath(), &dm_);
        tr_.SetDefaultDatabase(db_.get());
        q_.SetDatabase(db_.get());
        q_.SetTransaction(&tr_);
        tr_.StartTransaction();
    }

    void Run(const std::string& sql) {
        q_.SetSqlText({sql});
        q_.ExecuteQuery();
    }

    TComponent mainWindow_{nullptr, "Moorquill"};
    TComponent dm_{&mainWindow_, "dm"};
    std::unique_ptr<TFbDatabase> db_;
    TFbTransaction tr_{&dm_, "Transaction"};
    TFbQuery q_{&dm_, "Query"};
};

TEST_F(Queries, SchemaStatementsRunWithoutAPrepare) {
    Run("CREATE TABLE T (N INTEGER)");
    EXPECT_EQ(q_.SqlKind(), sqkSchema);
    EXPECT_FALSE(q_.Prepared());
    EXPECT_EQ(q_.StatementType(), SQLUnknown);
    tr_.Commit();
    tr_.StartTransaction();
    Run("insert into T values (5)");
    EXPECT_TRUE(q_.Prepared());
    EXPECT_EQ(q_.StatementType(), SQLInsert);
    Run("select n from t");
    EXPECT_EQ(q_.SqlKind(), sqkSelect);
    EXPECT_EQ(q_.StatementType(), SQLSelect);
    ASSERT_FALSE(q_.Eof());
    EXPECT_EQ(q_.FieldName(0), "N");
    EXPECT_EQ(q_.FieldAsInt64(0), 5);
    q_.Next();
    EXPECT_TRUE(q_.Eof());
}

TEST_F(Queries, ParameterTextIsConvertedToEachType) {
    Run("CREATE TABLE V (I INTEGER, S SMALLINT, B BIGINT, N NUMERIC(10,2), D DOUBLE PRECISION, "
        "F FLOAT, DT DATE, TM TIME, TS TIMESTAMP, VC VARCHAR(20), C CHAR(5), BL BLOB SUB_TYPE "
        "TEXT, "
        "BO BOOLEAN, NL INTEGER)");
    tr_.Commit();
    tr_.StartTransaction();
    q_.SetSqlText(
        {"INSERT INTO V VALUES (:I, :S, :B, :N, :D, :F, :DT, :TM, :TS, :VC, :C, :BL, :BO, :NL)"});
    ASSERT_EQ(q_.ParameterCount(), 14);
    const std::vector<std::string> in = {"-42",        "7",          "9000000000",
                                         "12.345",     "2,5",        "0.25",
                                         "31.12.2023", "13:45:10.5", "2024-02-29 01:02:03",
                                         "ÿ text",     "ab",         std::string(100000, 'x'),
                                         "true"};
    for (int i = 0; i < static_cast<int>(in.size()); ++i)
        q_.SetParameterText(i, in[static_cast<std::size_t>(i)]);
    q_.SetParameterNull(13);
    q_.ExecuteQuery();
    q_.Options = qoTrimCharFields;
    Run("SELECT I, S, B, N, D, F, DT, TM, TS, VC, C, BL, BO, NL FROM V");
    ASSERT_FALSE(q_.Eof());
    const std::vector<std::string> out = {"-42",
                                          "7",
                                          "9000000000",
                                          "12.35",
                                          "2.5",
                                          "0.25",
                                          "2023-12-31",
                                          "13:45:10.5000",
                                          "2024-02-29 01:02:03.0000",
                                          "ÿ text",
                                          "ab",
                                          std::string(100000, 'x'),
                                          "true",
                                          ""};
    for (int i = 0; i < static_cast<int>(out.size()); ++i) {
        EXPECT_EQ(q_.FieldAsText(i), out[static_cast<std::size_t>(i)]) << q_.FieldName(i);
    }
    EXPECT_TRUE(q_.FieldIsNull(13));
    EXPECT_FALSE(q_.FieldIsNull(0));
}

TEST_F(Queries, DateTextsTheClientCannotReadGoToTheServer) {
    q_.SetSqlText({"SELECT CAST(:D AS DATE) - CAST('TODAY' AS DATE) FROM RDB$DATABASE"});
    q_.SetParameterText(0, "TODAY");
    q_.ExecuteQuery();
    EXPECT_EQ(q_.FieldAsText(0), "0");
}

TEST_F(Queries, ValueThatDoesNotFitItsTypeIsRefused) {
    Run("CREATE TABLE T (N SMALLINT)");
    tr_.Commit();
    tr_.StartTransaction();
    q_.SetSqlText({"INSERT INTO T VALUES (:N)"});
    int number = 0;
    for (const char* bad : {"abc", "40000", "1.5.2"}) {
        q_.SetParameterText(0, bad);
        EXPECT_EQ(ClientRefusal([&] { q_.ExecuteQuery(); }, &number),
                  "Invalid data conversion. Parameter N: '" + std::string(bad) +
                      "' is not a valid number.");
        EXPECT_EQ(number, ceInvalidDataConversion);
    }
    EXPECT_EQ(ClientRefusal([&] { q_.SetParameterText(1, "1"); }),
              "Invalid parameter index (index exceeds permitted range).");
}

TEST_F(Queries, BlobParameterTakesAStreamWhole) {
    Run("CREATE TABLE BL (B BLOB)");
    tr_.Commit();
    tr_.StartTransaction();
    std::string bytes;
    for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i % 256);
    std::istringstream stream(bytes);
    q_.SetSqlText({"INSERT INTO BL VALUES (?)"});
    q_.SetParameterStream(0, stream);
    q_.ExecuteQuery();
    Run("SELECT B FROM BL");
    EXPECT_EQ(q_.FieldAsText(0), bytes);
}

TEST_F(Queries, DescriptionUpdateWithQuestionMarkNames) {
    Run("CREATE TABLE GENS (GEN_NAME VARCHAR(31), DESCRIPTION BLOB SUB_TYPE TEXT)");
    tr_.Commit();
    tr_.StartTransaction();
    Run("INSERT INTO GENS (GEN_NAME) VALUES ('GEN_X')");
    q_.SetSqlText({"update GENS SET DESCRIPTION = ?DESC where (GEN_NAME = ?GEN_NAME)"});
    ASSERT_EQ(q_.ParameterCount(), 2);
    EXPECT_EQ(q_.ParameterName(0), "DESC");
    EXPECT_EQ(q_.ParameterName(1), "GEN_NAME");
    q_.SetParameterText(0, "Счётчик\nв две строки");
    q_.SetParameterText(1, "GEN_X");
    q_.ExecuteQuery();
    Run("SELECT DESCRIPTION FROM GENS WHERE GEN_NAME = 'GEN_X'");
    EXPECT_EQ(q_.FieldAsText(0), "Счётчик\nв две строки");
}

TEST_F(Queries, ExecuteProcedureKeepsItsOutputs) {
    Run("CREATE PROCEDURE ADDER (A INTEGER, B INTEGER) RETURNS (S INTEGER) AS BEGIN S = :A + :B; "
        "END");
    EXPECT_EQ(q_.ParameterCount(), 0);
    tr_.Commit();
    tr_.StartTransaction();
    q_.SetSqlText({"EXECUTE PROCEDURE ADDER(:A, :B)"});
    EXPECT_EQ(q_.SqlKind(), sqkExecuteProcedure);
    q_.SetParameterText(0, "2");
    q_.SetParameterText(1, "40");
    q_.ExecuteQuery();
    EXPECT_EQ(q_.StatementType(), SQLExecProcedure);
    ASSERT_FALSE(q_.Eof());
    EXPECT_EQ(q_.FieldAsText(0), "42");
}

TEST_F(Queries, ExecuteBlockTakesParametersBeforeItsBody) {
    q_.SetSqlText({"EXECUTE BLOCK (P INTEGER = :P) RETURNS (R INTEGER) AS DECLARE X INTEGER; ",
                   "BEGIN X = :P * 2; R = :X; SUSPEND; END"});
    ASSERT_EQ(q_.ParameterCount(), 1);
    q_.SetParameterText(0, "21");
    q_.ExecuteQuery();
    ASSERT_FALSE(q_.Eof());
    EXPECT_EQ(q_.FieldAsText(0), "42");
}

TEST_F(Queries, CommitAndRollbackStatementsEndTheQuerysTransaction) {
    Run("CREATE TABLE T (N INTEGER)");
    Run("COMMIT");
    EXPECT_EQ(q_.StatementType(), SQLCommit);
    EXPECT_FALSE(tr_.Active());
    tr_.StartTransaction();
    Run("INSERT INTO T VALUES (1)");
    Run("ROLLBACK");
    EXPECT_FALSE(tr_.Active());
    EXPECT_EQ(QueryText(*db_, "SELECT COUNT(*) FROM T"), "0");
}

TEST_F(Queries, ServerRefusalNamesTheQuery) {
    try {
        Run("SELECT NOTHING FROM NOWHERE");
        FAIL();
    } catch (const EFbEngineError& e) {
        EXPECT_EQ(e.Message().rfind("Moorquill.dm.Query:\r\n", 0), 0u) << e.Message();
        EXPECT_NE(e.Message().find("NOWHERE"), std::string::npos) << e.Message();
        EXPECT_EQ(e.SQLCode(), -204);
    }
    // The query stays usable.
    Run("SELECT 1 FROM RDB$DATABASE");
    EXPECT_EQ(q_.FieldAsText(0), "1");
}

TEST_F(Queries, OpenCommentOrStringAtTheEndIsRefused) {
    q_.SetSqlText({"SELECT 1 FROM RDB$DATABASE /* never closed"});
    EXPECT_EQ(ClientRefusal([&] { q_.ExecuteQuery(); }),
              "SQL Parse Error in :Moorquill.dm.Query \r\n\r\nEOF in comment detected");
    q_.SetSqlText({"SELECT 'never closed FROM RDB$DATABASE"});
    EXPECT_EQ(ClientRefusal([&] { q_.ExecuteQuery(); }),
              "SQL Parse Error in :Moorquill.dm.Query \r\n\r\nEOF in string detected");
}

TEST_F(Queries, RefusalsOfTheQueryItself) {
    TFbQuery lone(&dm_, "Lone");
    lone.SetSqlText({"SELECT 1 FROM RDB$DATABASE"});
    EXPECT_EQ(ClientRefusal([&] { lone.ExecuteQuery(); }),
              "Database not assigned for Moorquill.dm.Lone.");
    lone.SetDatabase(db_.get());
    // Without a transaction of its own the query uses the connection's, which
    // the caller has not started.
    EXPECT_EQ(ClientRefusal([&] { lone.ExecuteQuery(); }),
              "Moorquill.dm.DataBase :Transaction is not active.");
    q_.SetSqlText({"  "});
    EXPECT_EQ(ClientRefusal([&] { q_.ExecuteQuery(); }), "Can't execute , because  query is empty");
}

TEST_F(Queries, TextBatchOnFirebirdExecutesNothing) {
    Run("CREATE TABLE T (N INTEGER)");
    tr_.Commit();
    tr_.StartTransaction();
    q_.Options = qoStartTransaction;
    EXPECT_NO_THROW(
        q_.ExecuteTextBatch({"INSERT INTO T VALUES (1)", "INSERT INTO T VALUES (2)"}, 1));
    EXPECT_EQ(QueryText(*db_, "SELECT COUNT(*) FROM T"), "0");
}

TEST_F(Queries, DisconnectReleasesTheStatementAndReconnectPreparesAgain) {
    Run("SELECT 1 FROM RDB$DATABASE");
    EXPECT_TRUE(q_.Prepared());
    db_->Disconnect();
    EXPECT_FALSE(q_.Prepared());
    EXPECT_FALSE(tr_.Active());
    db_->Connect();
    tr_.StartTransaction();
    q_.ExecuteQuery();
    EXPECT_EQ(q_.FieldAsText(0), "1");
}

TEST_F(Queries, CursorClosedByCommitCanBeOpenedAgain) {
    Run("SELECT RDB$RELATION_ID FROM RDB$DATABASE");
    tr_.Commit();
    tr_.StartTransaction();
    q_.ExecuteQuery();
    EXPECT_FALSE(q_.Eof());
    q_.Close();
    EXPECT_TRUE(q_.Eof());
}

}  // namespace
}  // namespace qm
