// A service component against a private Firebird server on loopback: the one
// place where the password is checked.

#include <gtest/gtest.h>

#include <string>

#include "firebird/errors.h"
#include "firebird/services.h"
#include "tests/firebird/services/fake_client.h"
#include "tests/support/firebird_server.h"

namespace qm {
namespace {

using test::DataModuleOwners;

class LoopbackServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::FirebirdServer("masterkey"); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!server->Running()) GTEST_SKIP() << server->Reason();
        svc.SetServerName("127.0.0.1/" + std::to_string(server->Port()));
    }

    static test::FirebirdServer* server;
    DataModuleOwners owners;
    TFbBackupService svc{&owners.dm, "BackupService"};
};

test::FirebirdServer* LoopbackServer::server = nullptr;

TEST_F(LoopbackServer, WrongPasswordIsRefusedWithTheOriginLine) {
    svc.SetParams({"user_name=sysdba", "password=wrong"});
    try {
        svc.SetActive(true);
        ADD_FAILURE() << "no error";
    } catch (const EFbEngineError& e) {
        EXPECT_EQ(e.Message().rfind("Moorquill.dm.BackupService:\r\n", 0), 0u) << e.Message();
        EXPECT_NE(e.Message().find("password"), std::string::npos) << e.Message();
        EXPECT_EQ(e.Origin(), &svc);
    }
    EXPECT_FALSE(svc.Active());
    EXPECT_EQ(svc.Handle(), 0u);
}

TEST_F(LoopbackServer, RightPasswordAttaches) {
    svc.SetParams({"user_name=sysdba", "password=masterkey"});
    svc.SetActive(true);
    EXPECT_TRUE(svc.Active());
    svc.SetActive(false);
    EXPECT_FALSE(svc.Active());
}

}  // namespace
}  // namespace qm
