#include <gtest/gtest.h>

#include <memory>

#include "firebird/database.h"
#include "firebird/errors.h"
#include "tests/support/firebird_server.h"

namespace qm {
namespace {

// Password checking needs a real server: the embedded engine checks none.
class PrivateServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<test::FirebirdServer>(kPassword); }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        if (!server_->Running())
            GTEST_SKIP() << "no private Firebird server: " << server_->Reason();
    }

    static constexpr const char* kPassword = "Pa$$'word";
    static std::unique_ptr<test::FirebirdServer> server_;
};

std::unique_ptr<test::FirebirdServer> PrivateServer::server_;

TEST_F(PrivateServer, RightPasswordConnectsAndWrongOneIsRefusedWithTheOriginLine) {
    const std::string path = server_->DatabasePath("remote.fdb");
    {
        TFbDatabase creator;
        creator.SetLibraryName("libfbclient.so.2");
        creator.SetDBName(path);
        creator.SetSQLDialect(3);
        creator.SetDBParams({"USER 'SYSDBA' PASSWORD 'Pa$$''word'"});
        creator.CreateDatabase();
        EXPECT_TRUE(creator.Connected());
    }
    TComponent mainWindow(nullptr, "Moorquill");
    TComponent dm(&mainWindow, "dm");
    TFbDatabase db(&dm, "DataBase");
    db.SetLibraryName("libfbclient.so.2");
    db.SetDBName(path);
    db.SetDBParams({"user_name=SYSDBA", std::string("password=") + kPassword});
    db.Connect();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.ServerVersionMajor(), 3);
    db.Disconnect();

    db.ConnectParams().SetPassword("wrong");
    try {
        db.Connect();
        FAIL() << "connected with a wrong password";
    } catch (const EFbEngineError& e) {
        EXPECT_EQ(e.Message(),
                  "Moorquill.dm.DataBase:\r\nUnsuccessful execution caused by a system error that "
                  "precludes successful execution of subsequent statements.\r\nYour user name and "
                  "password are not defined. Ask your "
                  "database administrator to set up a Firebird login.\r\n");
        EXPECT_EQ(e.SQLCode(), -902);
    }
    EXPECT_FALSE(db.Connected());
}

}  // namespace
}  // namespace qm
