// The operations against a running server that holds the databases, as on an
// administrator's machine: a private server on loopback, the program pointed
// at it the way the settings point it, and another program attached to the
// database through that server for the whole operation. Every result is
// checked by querying it.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firebird/database.h"
#include "firebird/server_route.h"
#include "firebird/services.h"
#include "operations/optimization.h"
#include "platform/files.h"
#include "tests/operations/fakes/maintenance_fixture.h"
#include "tests/support/firebird_db.h"
#include "tests/support/firebird_server.h"
#include "tests/support/scripted_interaction.h"

namespace qm {
namespace {

using test::DataModule;
using test::HeldAttachment;
using test::RecordingLog;

class ThroughTheServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new test::FirebirdServer("masterkey"); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
        if (!server_->Running()) GTEST_SKIP() << server_->Reason();
        toServer_.emplace(server_->Address());
        // The server's own folder: a database of a test lives where the server
        // can write, beside its archives.
        folder_ = server_->Directory() +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        ASSERT_TRUE(platform::DirectoryExists(folder_) || ::mkdir(folder_.c_str(), 0777) == 0);
        base.Description = "Склад";
        base.DBFile = test::MakeDatabase(dir, Path("shop.fdb"));
        base.ArcDir = folder_;
    }
    void TearDown() override { toServer_.reset(); }

    std::string Path(const std::string& name) const { return folder_ + name; }
    // The connection string of a file through the server.
    std::string Remote(const std::string& path) const { return server_->Address() + ":" + path; }

    // The people of a database as a client of the server reads them.
    std::string ContentsThroughServer(const std::string& path) {
        return test::Contents(dir, Remote(path));
    }

    static test::FirebirdServer* server_;
    std::optional<test::ServerVariable> toServer_;
    std::string folder_;
    test::TempDir dir;
    DataModule m;
    TFirebirdBase base;
    RecordingLog log;
};

test::FirebirdServer* ThroughTheServer::server_ = nullptr;

TEST_F(ThroughTheServer, TheProbeFindsTheServerAndItsVersion) {
    const TServerProbe probe = m.dm.ProbeRoute(true);
    EXPECT_EQ(probe.Route, TServerRoute::Server(server_->Address()));
    EXPECT_NE(probe.Version.find("Firebird 3"), std::string::npos) << probe.Version;
    EXPECT_TRUE(probe.Error.empty()) << probe.Error;

    m.setting.SYSDBAPassword = "wrong";
    const TServerProbe refused = m.dm.ProbeRoute(true);
    EXPECT_EQ(refused.Route, TServerRoute::Server(server_->Address()));
    EXPECT_NE(refused.Error.find("password"), std::string::npos) << refused.Error;
}

TEST_F(ThroughTheServer, BackupAndValidationWhileAnotherProgramIsAttached) {
    HeldAttachment other(dir, Remote(base.DBFile));
    ASSERT_TRUE(other.Holding()) << other.Output();
    // The embedded engine of this process could not even open the file.
    EXPECT_FALSE(IsFileFree(base.DBFile));

    const std::string archive = Path("shop.fbk");
    ASSERT_TRUE(m.dm.BackupBase(base, archive, &log)) << log.All();
    const std::string copy = test::GbakRestore(archive);
    EXPECT_EQ(test::Contents(dir, copy), ContentsThroughServer(base.DBFile));
    platform::DeleteFile(copy);

    log.Clear();
    EXPECT_TRUE(m.dm.ValidationBase(base, &log)) << log.All();
    EXPECT_TRUE(log.Has("Ошибок не обнаружено.")) << log.All();
    EXPECT_TRUE(other.StillWorks());
}

TEST_F(ThroughTheServer, OnlineCheckFindsTheDamageOfADatabaseInUse) {
    const std::string damaged = test::MakeDatabase(dir, Path("damaged.fdb"), 300, 8192);
    ASSERT_TRUE(test::DamageDataPage(damaged, 8192));
    HeldAttachment other(dir, Remote(damaged));
    ASSERT_TRUE(other.Holding()) << other.Output();
    TFirebirdBase record = base;
    record.DBFile = damaged;
    EXPECT_FALSE(m.dm.ValidationBase(record, &log));
    EXPECT_EQ(log.lines.back(), "Проверка выявила ошибки.") << log.All();
    EXPECT_FALSE(log.Has("Проверка прервана из-за ошибки.")) << log.All();
}

TEST_F(ThroughTheServer, RestoreToANewFileAndOverADatabaseInUse) {
    const std::string source = test::MakeDatabase(dir, Path("source.fdb"), 40);
    const std::string archive = test::GbakBackup(source, Path("source.fbk"));

    ASSERT_TRUE(m.dm.RestoreBase(archive, Path("new.fdb"), &log)) << log.All();
    EXPECT_EQ(ContentsThroughServer(Path("new.fdb")), test::Contents(dir, source));

    HeldAttachment other(dir, Remote(base.DBFile));
    ASSERT_TRUE(other.Holding()) << other.Output();
    log.Clear();
    ASSERT_TRUE(m.dm.RestoreBase(archive, base.DBFile, &log)) << log.All();
    EXPECT_TRUE(log.Has("Подключения к базе данных \"" + base.DBFile +
                        "\" закрыты: база данных выключена на время замены."))
        << log.All();
    EXPECT_EQ(ContentsThroughServer(base.DBFile), test::Contents(dir, source));
    // The other program's attachment was broken off; the database is online.
    EXPECT_FALSE(other.StillWorks());
    HeldAttachment again(dir, Remote(base.DBFile));
    EXPECT_TRUE(again.Holding()) << again.Output();
}

TEST_F(ThroughTheServer, OptimizationOfADatabaseInUseKeepsItsDataAndPages) {
    const std::string before = ContentsThroughServer(base.DBFile);
    HeldAttachment other(dir, Remote(base.DBFile));
    ASSERT_TRUE(other.Holding()) << other.Output();

    const std::string archive = OptimizationArchiveName(base);
    ASSERT_TRUE(OptimizeBase(m.dm, base, archive, &log)) << log.All();
    EXPECT_EQ(log.lines.back(), "Оптимизация завершена.");
    EXPECT_EQ(ContentsThroughServer(base.DBFile), before);
    EXPECT_NE(test::PageSize(dir, Remote(base.DBFile)).find("8192"), std::string::npos);
    EXPECT_FALSE(platform::FileExists(archive));
    EXPECT_EQ(test::FilesIn(folder_), std::vector<std::string>{"shop.fdb"});
    EXPECT_FALSE(other.StillWorks());
}

// A client that writes at the moments that matter: while the backup runs,
// while the restore runs, and once the rebuilt database is in place. What it
// could commit is in the result; while the run keeps the database to itself,
// nothing can be committed at all.
TEST_F(ThroughTheServer, AWriterNeverLosesWhatItCommitted) {
    struct Moment {
        std::string line;  // the log line at which the writer writes
        bool mayCommit;    // whether the database is there for clients then
    };
    const std::vector<Moment> moments = {
        {"Архивация \"Склад\" началась...", false},
        {"Восстановление базы данных \"" + base.DBFile + "\" началось...", false},
        {"Создана база данных: " + base.DBFile, true},
    };
    std::vector<bool> committed(moments.size(), false);
    int id = 1000;
    log.onLine = [&](const std::string& line) {
        for (std::size_t i = 0; i < moments.size(); ++i) {
            if (line != moments[i].line) continue;
            const std::string out = test::Isql(
                dir, "INSERT INTO PEOPLE VALUES (" + std::to_string(id + static_cast<int>(i)) +
                         ", 'writer');\nCOMMIT;\n",
                Remote(base.DBFile));
            committed[i] = out.find("Statement failed") == std::string::npos &&
                           out.find("SQLSTATE") == std::string::npos;
        }
    };
    ASSERT_TRUE(OptimizeBase(m.dm, base, OptimizationArchiveName(base), &log)) << log.All();
    log.onLine = nullptr;

    const std::string rows = test::Isql(
        dir, "SET LIST ON;\nSELECT LIST(ID) AS IDS FROM PEOPLE WHERE NAME = 'writer';\n",
        Remote(base.DBFile));
    for (std::size_t i = 0; i < moments.size(); ++i) {
        SCOPED_TRACE(moments[i].line);
        EXPECT_EQ(committed[i], moments[i].mayCommit);
        if (committed[i]) {
            EXPECT_NE(rows.find(std::to_string(id + static_cast<int>(i))), std::string::npos)
                << rows;
        }
    }
}

TEST_F(ThroughTheServer, LingeringDatabaseIsOptimized) {
    test::Isql(dir, "ALTER DATABASE SET LINGER TO 60;\nCOMMIT;\n", Remote(base.DBFile));
    const std::string before = ContentsThroughServer(base.DBFile);
    ASSERT_TRUE(OptimizeBase(m.dm, base, OptimizationArchiveName(base), &log)) << log.All();
    EXPECT_EQ(ContentsThroughServer(base.DBFile), before);
    EXPECT_NE(test::Isql(dir, "SET LIST ON;\nSELECT RDB$LINGER FROM RDB$DATABASE;\n",
                         Remote(base.DBFile))
                  .find("60"),
              std::string::npos);
}

TEST_F(ThroughTheServer, WrongPasswordOptimizesNothing) {
    m.setting.SYSDBAPassword = "wrong";
    const platform::FileIdentity before = platform::ProbeFile(base.DBFile);
    const std::string archive = OptimizationArchiveName(base);
    EXPECT_FALSE(OptimizeBase(m.dm, base, archive, &log));
    ASSERT_EQ(log.lines.size(), 2u) << log.All();
    EXPECT_NE(log.lines[0].find("password"), std::string::npos) << log.All();
    EXPECT_EQ(log.lines[1], "Оптимизация прервана из-за ошибки.");
    EXPECT_TRUE(platform::ProbeFile(base.DBFile) == before);
    EXPECT_FALSE(platform::FileExists(archive));
}

TEST_F(ThroughTheServer, TestConnectionAndScriptWhileAnotherProgramIsAttached) {
    HeldAttachment other(dir, Remote(base.DBFile));
    ASSERT_TRUE(other.Holding()) << other.Output();
    test::ScriptedMessageBoxes boxes;
    m.dm.SetConnectParams(base.DBFile, "", "", 3);
    EXPECT_EQ(m.dm.DataBase->DBName(), Remote(base.DBFile));
    EXPECT_TRUE(m.dm.TestConnect());
    EXPECT_TRUE(boxes.shown.empty());

    const std::string script = Path("add.sql");
    test::WriteFile(script, "INSERT INTO PEOPLE VALUES (5000, 'script');\nCOMMIT;\n");
    m.dm.SetConnectParams(base.DBFile, "UTF8", "", 3);
    m.dm.DataBase->Connect();
    EXPECT_TRUE(m.dm.ScriptBase(script, &log)) << log.All();
    m.dm.DataBase->Disconnect();
    EXPECT_NE(test::Isql(dir, "SELECT NAME FROM PEOPLE WHERE ID = 5000;\n", Remote(base.DBFile))
                  .find("script"),
              std::string::npos);
    EXPECT_TRUE(other.StillWorks());

    // A database the script names itself is reached through the server too:
    // the embedded engine could not open the file the server holds.
    const std::string connects = Path("connect.sql");
    test::WriteFile(connects, "CONNECT '" + base.DBFile +
                                  "' USER 'SYSDBA' PASSWORD 'masterkey';\n"
                                  "INSERT INTO PEOPLE VALUES (5001, 'connected');\nCOMMIT;\n");
    m.dm.DataBase->Connect();
    log.Clear();
    EXPECT_TRUE(m.dm.ScriptBase(connects, &log)) << log.All();
    if (m.dm.DataBase->Connected()) m.dm.DataBase->Disconnect();
    EXPECT_NE(test::Isql(dir, "SELECT NAME FROM PEOPLE WHERE ID = 5001;\n", Remote(base.DBFile))
                  .find("connected"),
              std::string::npos);
}

}  // namespace
}  // namespace qm
