// Where requests go: the server value's rules, the connection strings of a
// route, and the probe against a port where nothing listens and a private
// server that answers.

#include "firebird/server_route.h"

#include <gtest/gtest.h>

#include <string>

#include "firebird/errors.h"
#include "firebird/services.h"
#include "platform/platform.h"
#include "tests/support/firebird_server.h"

namespace qm {
namespace {

TEST(ServerSetting, WhatIsAcceptedAndWhatIsRefused) {
    const struct {
        const char* value;
        bool ok;
    } cases[] = {
        {"", true},
        {"localhost", true},
        {"127.0.0.1/3051", true},
        {"db-1.example.org/gds_db", true},
        {"server/65535", true},
        {"/3050", false},
        {"server/", false},
        {"server/0", false},
        {"server/65536", false},
        {"server/123456", false},
        {"server/30 50", false},
        {"two words", false},
        {"server:3050", false},
        {"server/3050/x", false},
        {"сервер", false},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckServerSetting(c.value).empty(), c.ok) << c.value;
}

TEST(ServerSetting, TheEnvironmentTakesThePlaceOfTheSetting) {
    ASSERT_EQ(::setenv(kServerVariable, " host/3051 ", 1), 0);
    EXPECT_EQ(EffectiveServerSetting("other"), "host/3051");
    ::unsetenv(kServerVariable);
    EXPECT_EQ(EffectiveServerSetting(" other "), "other");
    ::setenv(kServerVariable, "127.0.0.1/1", 1);
}

TEST(ServerRoute, ConnectionStrings) {
    const TServerRoute server = TServerRoute::Server("127.0.0.1/3051");
    const struct {
        const char* path;
        const char* throughServer;
    } cases[] = {
        {"/var/lib/firebird/data/shop.fdb", "127.0.0.1/3051:/var/lib/firebird/data/shop.fdb"},
        {"employee", "127.0.0.1/3051:employee"},  // an alias of the server's
        {"C:\\Data\\SHOP.FDB", "127.0.0.1/3051:C:\\Data\\SHOP.FDB"},
        {"other:/data/shop.fdb", "other:/data/shop.fdb"},
        {"other/3052:/data/shop.fdb", "other/3052:/data/shop.fdb"},
        {"inet://other/data/shop.fdb", "inet://other/data/shop.fdb"},
        {"/data/odd:name.fdb", "127.0.0.1/3051:/data/odd:name.fdb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(server.DatabaseString(c.path), c.throughServer) << c.path;
        EXPECT_EQ(TServerRoute::Embedded().DatabaseString(c.path), c.path);
    }
    for (const char* host : {"localhost", "LOCALHOST/3050", "127.0.0.1", "127.1.2.3/1", "::1"})
        EXPECT_TRUE(IsLoopbackServer(host)) << host;
    for (const char* host : {"db.example", "10.0.0.1", "localhost.example", "128.0.0.1"})
        EXPECT_FALSE(IsLoopbackServer(host)) << host;
    EXPECT_TRUE(TServerRoute::Embedded().IsLocal());
    EXPECT_TRUE(TServerRoute::Server("localhost/3051").IsLocal());
    EXPECT_FALSE(TServerRoute::Server("db.example").IsLocal());
}

TEST(ServerRoute, ServiceComponentsFollowTheRoute) {
    TFbBackupService svc;
    TServerRoute::Server("127.0.0.1/3051").ApplyTo(svc);
    EXPECT_EQ(svc.ServiceManagerName(), "127.0.0.1/3051:service_mgr");
    TServerRoute::Embedded().ApplyTo(svc);
    EXPECT_EQ(svc.Protocol(), TProtocol::Local);
    EXPECT_EQ(svc.ServiceManagerName(), "service_mgr");
}

TEST(ServerProbe, NothingListeningOnThisMachineMeansTheEmbeddedEngine) {
    // The test programs point the variable at a port where nothing listens.
    const TServerProbe probe =
        ProbeServerRoute("", platform::kDefaultClientLibrary, "masterkey", true);
    EXPECT_TRUE(probe.Route.IsEmbedded());
    EXPECT_EQ(probe.Asked, "127.0.0.1/1");
    EXPECT_TRUE(probe.Error.empty()) << probe.Error;

    const TServerProbe noLibrary = ProbeServerRoute("", "/nowhere/libfbclient.so", "masterkey");
    EXPECT_TRUE(noLibrary.Route.IsEmbedded());
    EXPECT_NE(noLibrary.Error.find("/nowhere/libfbclient.so"), std::string::npos)
        << noLibrary.Error;
}

TEST(ServerProbe, AServerThatAnswers) {
    test::FirebirdServer server("masterkey");
    if (!server.Running()) GTEST_SKIP() << server.Reason();
    const test::ServerVariable toServer(server.Address());
    const TServerProbe probe =
        ProbeServerRoute("ignored", platform::kDefaultClientLibrary, "masterkey", true);
    EXPECT_EQ(probe.Route, TServerRoute::Server(server.Address()));
    EXPECT_NE(probe.Version.find("Firebird 3"), std::string::npos) << probe.Version;

    // Refused, it is still the server that serves.
    const TServerProbe refused =
        ProbeServerRoute("", platform::kDefaultClientLibrary, "wrong", true);
    EXPECT_EQ(refused.Route, TServerRoute::Server(server.Address()));
    EXPECT_TRUE(refused.Version.empty());
    EXPECT_NE(refused.Error.find("password"), std::string::npos) << refused.Error;
}

// The attachment the work goes over is the question itself.
TEST(AttachService, ServerWhereOneAnswersTheEmbeddedEngineWhereNone) {
    TFbServerInfoService svc;
    svc.SetParams({"user_name=sysdba", "password=masterkey"});
    EXPECT_TRUE(AttachService(svc, "").IsEmbedded());
    EXPECT_TRUE(svc.Active());
    EXPECT_EQ(svc.ServiceManagerName(), "service_mgr");
    svc.SetActive(false);

    test::FirebirdServer server("masterkey");
    if (!server.Running()) GTEST_SKIP() << server.Reason();
    const test::ServerVariable toServer(server.Address());
    EXPECT_EQ(AttachService(svc, ""), TServerRoute::Server(server.Address()));
    EXPECT_NE(svc.ServerVersion().find("Firebird"), std::string::npos);
    svc.SetActive(false);

    // A refusal is the server's answer, not a reason to go elsewhere.
    svc.SetParams({"user_name=sysdba", "password=wrong"});
    EXPECT_THROW(AttachService(svc, ""), EFbEngineError);
    EXPECT_FALSE(svc.Active());
}

}  // namespace
}  // namespace qm
