#include "firebird/transaction.h"

#include <gtest/gtest.h>

#include <chrono>

#include "firebird/database.h"
#include "firebird/errors.h"
#include "firebird/query.h"
#include "tests/firebird/fb_test_support.h"

namespace qm {
namespace {

using test::ClientRefusal;
using test::OpenTestDatabase;
using test::QueryText;

// A database with table T(N) and the data module's names around it.
class Transactions : public ::testing::Test, protected test::EmbeddedFixture {
protected:
    void SetUp() override {
        test::CreateTestDatabase(DbPath(), 3);
        db_ = OpenTestDatabase(DbPath(), &dm_);
        test::ExecSql(*db_, {"CREATE TABLE T (N INTEGER)"});
        tr_.SetDefaultDatabase(db_.get());
        q_.SetDatabase(db_.get());
        q_.SetTransaction(&tr_);
    }

    void Insert(int n) {
        q_.SetSqlText({"INSERT INTO T VALUES (" + std::to_string(n) + ")"});
        q_.ExecuteQuery();
    }

    // The rows a second connection sees.
    std::string SeenFromOutside() {
        auto other = OpenTestDatabase(DbPath());
        return QueryText(*other, "SELECT COUNT(*) FROM T");
    }

    TComponent mainWindow_{nullptr, "Moorquill"};
    TComponent dm_{&mainWindow_, "dm"};
    std::unique_ptr<TFbDatabase> db_;
    TFbTransaction tr_{&dm_, "Transaction"};
    TFbQuery q_{&dm_, "Query"};
};

TEST_F(Transactions, CommitIsSeenFromAnotherConnectionAndRollbackIsNot) {
    tr_.StartTransaction();
    Insert(1);
    EXPECT_EQ(SeenFromOutside(), "0");
    tr_.Commit();
    EXPECT_FALSE(tr_.Active());
    EXPECT_EQ(SeenFromOutside(), "1");
    tr_.StartTransaction();
    Insert(2);
    tr_.RollBack();
    EXPECT_EQ(SeenFromOutside(), "1");
}

TEST_F(Transactions, RetainingEndsKeepTheTransaction) {
    tr_.StartTransaction();
    const FbHandle handle = tr_.Handle();
    Insert(1);
    tr_.CommitRetaining();
    EXPECT_TRUE(tr_.Active());
    EXPECT_EQ(tr_.Handle(), handle);
    EXPECT_EQ(SeenFromOutside(), "1");
    Insert(2);
    tr_.RollBackRetaining();
    EXPECT_TRUE(tr_.Active());
    EXPECT_EQ(SeenFromOutside(), "1");
    tr_.Commit();
}

TEST_F(Transactions, StateRefusalsNameTheComponentPath) {
    EXPECT_EQ(ClientRefusal([&] { tr_.Commit(); }),
              "Moorquill.dm.Transaction :Transaction is not active.");
    tr_.StartTransaction();
    EXPECT_EQ(ClientRefusal([&] { tr_.StartTransaction(); }), "");  // quietly
    EXPECT_EQ(ClientRefusal([&] { tr_.SetTRParams({"read"}); }),
              "Moorquill.dm.Transaction :Transaction is active.");
    EXPECT_EQ(ClientRefusal([&] { tr_.SetDefaultDatabase(nullptr); }),
              "Moorquill.dm.Transaction :Transaction is active.");
    tr_.Commit();

    TFbBasicTransaction basic(&dm_, "Basic");
    EXPECT_EQ(ClientRefusal([&] { basic.StartTransaction(); }),
              "Moorquill.dm.Basic :No databases are listed in transaction component.");
    basic.SetDefaultDatabase(db_.get());
    basic.StartTransaction();
    EXPECT_EQ(ClientRefusal([&] { basic.StartTransaction(); }),
              "Moorquill.dm.Basic :Transaction is active.");
    basic.Commit();

    db_->Disconnect();
    EXPECT_EQ(ClientRefusal([&] { tr_.StartTransaction(); }),
              "Moorquill.dm.DataBase: Cannot perform operation -- DB is not open.");
    EXPECT_FALSE(tr_.Active());
}

TEST_F(Transactions, TpbModeDecidesTheParametersAtEachStart) {
    tr_.TPBMode = tpbReadCommitted;
    tr_.SetTRParams({"read", "consistency"});
    tr_.StartTransaction();
    EXPECT_EQ(tr_.TPB(), (Bytes{3, 9, 7, 15, 17}));
    tr_.Commit();
    tr_.TPBMode = tpbRepeatableRead;
    tr_.StartTransaction();
    EXPECT_EQ(tr_.TPB(), (Bytes{3, 9, 7, 2}));
    tr_.Commit();
    tr_.TPBMode = tpbDefault;
    tr_.SetTRParams({"read", " ", "concurrency"});
    tr_.StartTransaction();
    EXPECT_EQ(tr_.TPB(), (Bytes{3, 8, 2}));
    EXPECT_THROW(Insert(1), EFbEngineError);  // a read-only transaction
    tr_.Commit();
    tr_.SetTRParams({});
    tr_.StartTransaction();
    EXPECT_TRUE(tr_.TPB().empty());
    tr_.Commit();
}

TEST_F(Transactions, ServerRefusalOfTheStartLeavesItInactive) {
    tr_.TPBMode = tpbDefault;
    tr_.SetTRParams({"write", "lock_write=NO_SUCH_TABLE"});
    try {
        tr_.StartTransaction();
        FAIL() << "started";
    } catch (const EFbEngineError& e) {
        EXPECT_EQ(e.Message().rfind("Moorquill.dm.Transaction:\r\n", 0), 0u) << e.Message();
    }
    EXPECT_FALSE(tr_.Active());
    EXPECT_EQ(tr_.Handle(), 0u);
}

TEST_F(Transactions, ActiveFalseRollsBack) {
    tr_.SetActive(false);
    EXPECT_FALSE(tr_.Active());
    tr_.SetActive(true);
    Insert(1);
    tr_.SetActive(false);
    EXPECT_FALSE(tr_.Active());
    EXPECT_EQ(SeenFromOutside(), "0");
}

TEST_F(Transactions, DatabasesOfDifferentLibrariesCannotShareATransaction) {
    TFbDatabase other(&dm_, "Other");
    other.SetLibraryName(test::FakeClient("v6"));
    TFbTransaction tr(&dm_, "Shared");
    tr.SetDefaultDatabase(db_.get());
    try {
        tr.AddDatabase(&other);
        FAIL();
    } catch (const EFbLibraryError& e) {
        EXPECT_STREQ(
            e.what(),
            "Moorquill.dm.Shared.\r\nTransaction can't work with different client library.");
    }
    EXPECT_EQ(tr.Databases().size(), 1u);
    // Replacing the only database is not a mixture.
    tr.SetDefaultDatabase(&other);
    EXPECT_EQ(tr.Databases(), (std::vector<TFbDatabase*>{&other}));
}

TEST_F(Transactions, OneTransactionOverTwoDatabases) {
    const std::string second = DbPath("second.fdb");
    test::CreateTestDatabase(second, 3);
    auto db2 = OpenTestDatabase(second);
    test::ExecSql(*db2, {"CREATE TABLE T (N INTEGER)"});
    tr_.AddDatabase(db2.get());
    tr_.StartTransaction();
    Insert(1);
    TFbQuery q2;
    q2.SetDatabase(db2.get());
    q2.SetTransaction(&tr_);
    q2.SetSqlText({"INSERT INTO T VALUES (2)"});
    q2.ExecuteQuery();
    db2->Disconnect();  // ends the shared transaction on both databases
    EXPECT_FALSE(tr_.Active());
    EXPECT_EQ(SeenFromOutside(), "0");
}

TEST_F(Transactions, IdleTimeoutEndsTheTransactionAfterOneToTwoIntervals) {
    test::TestTimerLoop loop;
    TFbTransaction tr(&dm_, "Idle");
    tr.SetDefaultDatabase(db_.get());
    tr.TimeoutAction = TACommit;
    tr.SetTimeout(1000);
    bool timedOut = false;
    tr.OnTimeout = [&] { timedOut = true; };
    tr.StartTransaction();
    TFbQuery q;
    q.SetDatabase(db_.get());
    q.SetTransaction(&tr);
    q.SetSqlText({"INSERT INTO T VALUES (1)"});
    q.ExecuteQuery();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(loop.RunUntil([&] { return !tr.Active(); }, std::chrono::seconds(10)));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(SeenFromOutside(), "1");
}

TEST_F(Transactions, ConnectionsGiveTheirInternalTransactionAOneSecondTimeout) {
    test::TestTimerLoop loop;
    auto db = OpenTestDatabase(DbPath());
    TFbBasicTransaction& internal = db->InternalTransaction();
    EXPECT_EQ(internal.Timeout(), 1000u);
    EXPECT_EQ(internal.TimeoutAction, TACommit);
    internal.StartTransaction();
    EXPECT_EQ(internal.TPB(), (Bytes{3, 9, 7, 15, 17}));
    ASSERT_TRUE(loop.RunUntil([&] { return !internal.Active(); }, std::chrono::seconds(10)));
    db->Disconnect();
    EXPECT_EQ(internal.Timeout(), 0u);
}

TEST_F(Transactions, DroppingTheDatabaseEndsItsActiveTransaction) {
    auto victimPath = DbPath("victim.fdb");
    test::CreateTestDatabase(victimPath, 3);
    auto victim = OpenTestDatabase(victimPath);
    TFbTransaction tr;
    tr.SetDefaultDatabase(victim.get());
    tr.StartTransaction();
    victim->DropDatabase();
    EXPECT_FALSE(victim->Connected());
    // The server took the transaction with the database; no stale handle stays.
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(ClientRefusal([&] { tr.Commit(); }), " :Transaction is not active.");
}

}  // namespace
}  // namespace qm
