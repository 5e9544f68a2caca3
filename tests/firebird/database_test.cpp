#include "firebird/database.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>

#include "firebird/errors.h"
#include "firebird/query.h"
#include "firebird/transaction.h"
#include "platform/files.h"
#include "tests/firebird/fb_test_support.h"

namespace qm {
namespace {

using test::CreateTestDatabase;
using test::ExecSql;
using test::ClientRefusal;
using test::OpenTestDatabase;
using test::QueryText;

class Database : public ::testing::Test, protected test::EmbeddedFixture {};

TEST(ServerVersionText, NumbersAreReadFromTheFifthCharacterToTheLastButOne) {
    struct Case {
        const char* text;
        std::vector<std::int32_t> numbers;
    };
    const Case cases[] = {
        {"WI-V2.5.9.27139 Firebird 2.5", {2, 5, 9, 27139}},
        {"LI-V3.0.11.33703 Firebird 3.0", {3, 0, 11, 33703}},
        {"WI-V2.5", {2, 0, 0, 0}},  // the last character is never read
        {"WI-V6..1x", {6, 0, 0, 0}},
        {"", {0, 0, 0, 0}},
        {"LI-V99999999999.1.x", {INT32_MAX, 1, 0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TFbDatabase::ParseVersionText(c.text), c.numbers) << c.text;
}

TEST_F(Database, CreateConnectAndLearnTheServerFacts) {
    CreateTestDatabase(DbPath(), 3);
    ASSERT_TRUE(platform::FileExists(DbPath()));
    TComponent mainWindow(nullptr, "Moorquill");
    TComponent dm(&mainWindow, "dm");
    TFbDatabase db(&dm, "DataBase");
    db.SetLibraryName("libfbclient.so.2");
    db.SetDBName(DbPath());
    db.SetDBParams(test::SysdbaParams("UTF8"));
    db.SetSQLDialect(3);
    db.Connect();
    ASSERT_TRUE(db.Connected());
    EXPECT_TRUE(db.ServerIsFirebird());
    EXPECT_FALSE(db.ServerIsInterBase8());
    EXPECT_EQ(db.ServerVersionMajor(), 3);
    EXPECT_EQ(db.ServerVersionMinor(), 0);
    EXPECT_EQ(db.OdsMajor(), 12);
    EXPECT_EQ(db.OdsMinor(), 0);
    EXPECT_EQ(db.StoredSQLDialect(), 3);
    EXPECT_EQ(db.SQLDialect(), 3);
    EXPECT_EQ(db.AttachmentCharSet(), 4);  // UTF8
    EXPECT_EQ(db.UnicodeCharSets(), (std::vector<int>{3, 4}));
    EXPECT_TRUE(db.UnicodeConnection());
    EXPECT_FALSE(db.NoneConnection());
    EXPECT_TRUE(db.FullUnicodeSupport());
    EXPECT_GT(db.AttachmentId(), 0);
    // The server runs on this machine: its clock is ours.
    EXPECT_LT(std::fabs(db.TimeDifference()), 1.0 / 24);
    db.Disconnect();
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(db.AttachmentId(), -1);
    EXPECT_EQ(db.UnicodeCharSets(), (std::vector<int>{3}));
}

TEST_F(Database, ConnectionWithoutCharacterSetIsANoneConnection) {
    CreateTestDatabase(DbPath(), 3);
    auto db = OpenTestDatabase(DbPath());
    EXPECT_EQ(db->AttachmentCharSet(), 0);
    EXPECT_TRUE(db->NoneConnection());
    EXPECT_FALSE(db->UnicodeConnection());
    EXPECT_TRUE(db->UnicodeOrNoneConnection());
}

TEST_F(Database, DialectOneDatabaseLowersTheConnectionDialect) {
    CreateTestDatabase(DbPath(), 1);
    auto db = OpenTestDatabase(DbPath());
    EXPECT_EQ(db->StoredSQLDialect(), 1);
    EXPECT_EQ(db->SQLDialect(), 1);
    EXPECT_LT(std::fabs(db->TimeDifference()), 1.0 / 24);
    // In dialect 1 a DATE carries the time of day.
    EXPECT_EQ(QueryText(*db, "SELECT CAST('2024-02-29 13:45:10' AS DATE) FROM RDB$DATABASE"),
              "2024-02-29 13:45:10.0000");
    int number = 0;
    ClientRefusal([&] { db->SetSQLDialect(3); }, &number);
    EXPECT_EQ(number, ceInvalidSQLDialect);
}

TEST_F(Database, ConnectWhenConnectedDoesNothing) {
    CreateTestDatabase(DbPath(), 3);
    auto db = OpenTestDatabase(DbPath());
    const std::int32_t id = db->AttachmentId();
    db->Connect();
    EXPECT_EQ(db->AttachmentId(), id);
}

TEST_F(Database, EmptyNameIsRefusedBeforeTheLibraryIsLoaded) {
    TFbDatabase db;
    db.SetLibraryName("/nonexistent/libnothing.so");
    EXPECT_EQ(ClientRefusal([&] { db.Connect(); }), "Database name is missing.");
    EXPECT_FALSE(db.HasLibrary());
}

TEST_F(Database, RefusedAttachWithoutRaisingLeavesItDisconnected) {
    TFbDatabase db;
    db.SetLibraryName("libfbclient.so.2");
    db.SetDBName(DbPath("absent.fdb"));
    db.SetDBParams(test::SysdbaParams());
    EXPECT_NO_THROW(db.Connect(false));
    EXPECT_FALSE(db.Connected());
    EXPECT_THROW(db.Connect(true), EFbEngineError);
}

TEST_F(Database, PropertiesThatCannotChangeWhileConnected) {
    CreateTestDatabase(DbPath(), 3);
    TComponent dm(nullptr, "dm");
    auto db = OpenTestDatabase(DbPath(), &dm);
    const std::string open = "Cannot perform operation -- DB is currently open.";
    EXPECT_EQ(ClientRefusal([&] { db->SetDBName(DbPath("other.fdb")); }), open);
    EXPECT_EQ(ClientRefusal([&] { db->SetDBName(DbPath()); }), "");
    EXPECT_EQ(ClientRefusal([&] { db->SetDBParams({"user_name=X"}); }), open);
    EXPECT_EQ(ClientRefusal([&] { db->ConnectParams().SetPassword("other"); }), open);
    EXPECT_EQ(ClientRefusal([&] { db->SetLibraryName("libfbclient.so.2"); }), open);
    EXPECT_EQ(ClientRefusal([&] { db->CreateDatabase(); }), open);
    EXPECT_EQ(ClientRefusal([&] { db->SetSQLDialect(0); }), "SQL Dialect invalid");
    EXPECT_EQ(ClientRefusal([&] { db->SetSQLDialect(4); }), "SQL Dialect invalid");
    EXPECT_EQ(db->SQLDialect(), 3);
    db->Disconnect();
    EXPECT_EQ(ClientRefusal([&] { db->DropDatabase(); }),
              "dm.DataBase: Cannot perform operation -- DB is not open.");
    EXPECT_EQ(ClientRefusal([&] { db->SetSQLDialect(9); }), "");
}

TEST_F(Database, ConnectParamsAreAViewOfTheParameterLines) {
    TFbDatabase db;
    db.SetDBParams({"ISC_DPB_USER_NAME=sysdba", "password=a=b", "lc_ctype"});
    EXPECT_EQ(db.ConnectParams().UserName(), "sysdba");
    EXPECT_EQ(db.ConnectParams().Password(), "a=b");
    EXPECT_EQ(db.ConnectParams().CharSet(), "");
    EXPECT_EQ(db.ConnectParams().RoleName(), "");
    db.ConnectParams().SetCharSet("win1251");
    db.ConnectParams().SetRoleName("ADMIN");
    db.ConnectParams().SetPassword("");
    EXPECT_EQ(db.DBParams(), (std::vector<std::string>{"ISC_DPB_USER_NAME=sysdba",
                                                       "lc_ctype=WIN1251", "sql_role_name=ADMIN"}));
}

TEST_F(Database, RefusedParameterLineIsRefusedAgainAtTheNextConnect) {
    CreateTestDatabase(DbPath(), 3);
    auto db = OpenTestDatabase(DbPath());
    db->Disconnect();
    db->SetDBParams({"user_name=SYSDBA", "foo=1"});
    EXPECT_EQ(ClientRefusal([&] { db->Connect(); }), "DPB Constant (foo) is unknown.");
    EXPECT_EQ(ClientRefusal([&] { db->Connect(); }), "DPB Constant (foo) is unknown.");
    EXPECT_FALSE(db->Connected());
}

TEST_F(Database, DisconnectEndsActiveTransactionsWithTheirTimeoutAction) {
    CreateTestDatabase(DbPath(), 3);
    {
        auto setup = OpenTestDatabase(DbPath());
        ExecSql(*setup, {"CREATE TABLE T (N INTEGER)"});
    }
    struct Case {
        TTransactionAction action;
        const char* rowsAfter;
    };
    int n = 0;
    for (const Case c : {Case{TARollback, "0"}, Case{TACommitRetaining, "1"},
                         Case{TARollbackRetaining, "1"}, Case{TACommit, "2"}}) {
        auto db = OpenTestDatabase(DbPath());
        TFbTransaction tr;
        tr.SetDefaultDatabase(db.get());
        tr.TimeoutAction = c.action;
        tr.StartTransaction();
        TFbQuery q;
        q.SetDatabase(db.get());
        q.SetTransaction(&tr);
        q.SetSqlText({"INSERT INTO T VALUES (" + std::to_string(++n) + ")"});
        q.ExecuteQuery();
        db->Disconnect();
        EXPECT_FALSE(tr.Active());
        auto check = OpenTestDatabase(DbPath());
        EXPECT_EQ(QueryText(*check, "SELECT COUNT(*) FROM T"), c.rowsAfter) << c.action;
    }
}

TEST_F(Database, AttachmentIdIsReadAfreshAfterAForcedDisconnect) {
    CreateTestDatabase(DbPath(), 3);
    auto db = OpenTestDatabase(DbPath());
    const std::int32_t first = db->AttachmentId();
    db->ForceDisconnect();
    EXPECT_FALSE(db->Connected());
    db->Connect();
    EXPECT_NE(db->AttachmentId(), first);
    EXPECT_EQ(QueryText(*db, "SELECT CURRENT_CONNECTION FROM RDB$DATABASE"),
              std::to_string(db->AttachmentId()));
}

TEST_F(Database, DatabaseInfoValueOfAnUnansweredItem) {
    CreateTestDatabase(DbPath(), 3);
    auto db = OpenTestDatabase(DbPath());
    const FbInfoValue dialect = db->DatabaseInfoValue(62);
    EXPECT_TRUE(dialect.answered);
    EXPECT_EQ(dialect.value, 3);
    EXPECT_FALSE(db->DatabaseInfoValue(250).answered);
}

TEST_F(Database, CreateWithAQuoteInThePathAndDrop) {
    const std::string path = DbPath("it's.fdb");
    CreateTestDatabase(path, 3);
    EXPECT_TRUE(platform::FileExists(path));
    auto db = OpenTestDatabase(path);
    db->DropDatabase();
    EXPECT_FALSE(db->Connected());
    EXPECT_FALSE(platform::FileExists(path));
}

TEST_F(Database, CreateDatabaseLeavesItConnectedWithItsFacts) {
    TFbDatabase db;
    db.SetLibraryName("libfbclient.so.2");
    db.SetDBName(DbPath());
    db.SetSQLDialect(3);
    db.SetDBParams(
        {"USER 'SYSDBA' PASSWORD 'masterkey'", "PAGE_SIZE 8192", "DEFAULT CHARACTER SET UTF8"});
    db.CreateDatabase();
    EXPECT_TRUE(db.Connected());
    EXPECT_TRUE(db.ServerIsFirebird());
    EXPECT_EQ(db.ServerVersionMajor(), 3);
    EXPECT_EQ(db.OdsMajor(), 12);
    EXPECT_EQ(db.DatabaseInfoValue(14).value, 8192);  // isc_info_page_size
    db.Disconnect();
}

TEST_F(Database, ClientWithoutRollbackRetainingStillConnects) {
    CreateTestDatabase(DbPath(), 3);
    TFbDatabase db;
    db.SetLibraryName(test::FakeClient("v5"));
    db.SetDBName(DbPath());
    db.SetDBParams(test::SysdbaParams());
    db.Connect();
    EXPECT_EQ(db.Library().ClientVersionMajor(), 5);
    EXPECT_EQ(db.ServerVersionMajor(), 3);
    TFbTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.StartTransaction();
    try {
        tr.RollBackRetaining();
        FAIL();
    } catch (const EFbLibraryError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Can't find procedure isc_rollback_retaining in " + test::FakeClient("v5"));
    }
    EXPECT_TRUE(tr.Active());
    tr.CommitRetaining();
    tr.Commit();
    EXPECT_FALSE(tr.Active());
}

TEST_F(Database, InformationAnswersThatDoNotFitTheirBufferAreRefused) {
    CreateTestDatabase(DbPath(), 3);
    const std::string fake = test::FakeClient("version");
    TFbDatabase db;
    db.SetLibraryName(fake);
    db.SetDBName(DbPath());
    db.SetDBParams(test::SysdbaParams());
    db.Connect();
    void* handle = dlopen(fake.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    using ScriptInfo = void (*)(int, const unsigned char*, int);
    const auto script = reinterpret_cast<ScriptInfo>(dlsym(handle, "fake_script_info"));
    const auto clear = reinterpret_cast<void (*)()>(dlsym(handle, "fake_clear_script"));
    struct Case {
        std::vector<unsigned char> answer;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{62, 0xFF, 0x7F, 3}, "an integer of 32767 bytes"},
        {{62, 9, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, "an integer of 9 bytes"},
    };
    for (const Case& c : cases) {
        script(62, c.answer.data(), static_cast<int>(c.answer.size()));
        int number = 0;
        EXPECT_EQ(ClientRefusal([&] { db.DatabaseInfoValue(62); }, &number),
                  "Unexpected Output buffer value: the answer to database information item 62: " +
                      c.says + ".");
        EXPECT_EQ(number, ceOutputParsingError);
    }
    // A version text whose length runs past the answer's own length.
    db.Disconnect();
    const std::vector<unsigned char> version = {103, 4, 0, 1, 200, 'L', 'I', '-'};
    script(103, version.data(), static_cast<int>(version.size()));
    EXPECT_NE(ClientRefusal([&] { db.Connect(); }).find("200 bytes wanted"), std::string::npos);
    clear();
    dlclose(handle);
}

TEST_F(Database, ServerThatIsNotFirebirdIsReadFromItsVersionText) {
    CreateTestDatabase(DbPath(), 3);
    const std::string fake = test::FakeClient("version");
    void* handle = dlopen(fake.c_str(), RTLD_NOW);
    ASSERT_NE(handle, nullptr);
    using ScriptInfo = void (*)(int, const unsigned char*, int);
    const auto script = reinterpret_cast<ScriptInfo>(dlsym(handle, "fake_script_info"));
    const auto clear = reinterpret_cast<void (*)()>(dlsym(handle, "fake_clear_script"));
    const unsigned char unanswered[] = {1};  // isc_info_end: no Firebird version
    const std::string text = "WI-V8.0.0.123 InterBase";
    std::vector<unsigned char> version = {12, static_cast<unsigned char>(text.size() + 2), 0, 1,
                                          static_cast<unsigned char>(text.size())};
    version.insert(version.end(), text.begin(), text.end());
    version.push_back(1);
    script(103, unanswered, 1);
    script(12, version.data(), static_cast<int>(version.size()));

    TFbDatabase db;
    db.SetLibraryName(fake);
    db.SetDBName(DbPath());
    db.SetDBParams(test::SysdbaParams("UTF8"));
    db.Connect();
    clear();
    EXPECT_FALSE(db.ServerIsFirebird());
    EXPECT_TRUE(db.ServerIsInterBase8());
    EXPECT_EQ(db.ServerVersionMajor(), 8);
    EXPECT_EQ(db.UnicodeCharSets(), (std::vector<int>{3, 8, 59, 64}));
    // Without Firebird's answers the character set comes from the parameters.
    EXPECT_TRUE(db.UnicodeConnection());
    EXPECT_FALSE(db.NoneConnection());
    EXPECT_FALSE(db.FullUnicodeSupport());

    // Such a server gets batches, through an entry point this client lacks.
    TFbTransaction tr;
    tr.SetDefaultDatabase(&db);
    TFbQuery q;
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    q.Options = qoStartTransaction;
    try {
        q.ExecuteTextBatch({"INSERT INTO X VALUES (1)"}, 0);
        FAIL();
    } catch (const EFbLibraryError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Can't find procedure isc_dsql_batch_execute_immed in " + fake);
    }
    EXPECT_TRUE(tr.Active());
    dlclose(handle);
}

TEST_F(Database, IdleConnectionClosesItself) {
    CreateTestDatabase(DbPath(), 3);
    test::TestTimerLoop loop;
    auto db = OpenTestDatabase(DbPath());
    int timeouts = 0;
    db->OnTimeout = [&] { ++timeouts; };
    db->SetTimeout(200);
    ASSERT_TRUE(loop.RunUntil([&] { return !db->Connected(); }, std::chrono::seconds(10)));
    EXPECT_EQ(timeouts, 1);
}

}  // namespace
}  // namespace qm
