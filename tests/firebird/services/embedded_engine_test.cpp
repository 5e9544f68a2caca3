// Backup, restore and validation through the real client library and its
// embedded engine, checked against Firebird's own tools: the archives our
// backup writes are restored with gbak, the archives gbak writes are restored
// by our restore, and the data are compared through isql.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "firebird/errors.h"
#include "firebird/services.h"
#include "platform/files.h"
#include "tests/firebird/services/fake_client.h"
#include "tests/support/command.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::DataModuleOwners;

using test::RunCommand;
using test::ShellQuote;

class EmbeddedEngine : public ::testing::Test {
protected:
    // Runs SQL through isql against the database (or with none, for a script
    // that creates its own).
    std::string Isql(const std::string& sql, const std::string& db = {}) {
        const std::string script = dir.File("script.sql");
        test::WriteFile(script, sql);
        return RunCommand(std::string(QM_ISQL) + " -q " + (db.empty() ? "" : ShellQuote(db)) +
                          " -user SYSDBA -password masterkey -i " + ShellQuote(script));
    }

    // A database with a few rows, among them a blob and text in UTF-8.
    std::string MakeDatabase(const std::string& name) {
        const std::string db = dir.File(name);
        const std::string out = Isql(
            "SET SQL DIALECT 3;\n"
            "CREATE DATABASE '" +
            db +
            "' USER 'SYSDBA' PASSWORD 'masterkey' "
            "DEFAULT CHARACTER SET UTF8;\n"
            "CREATE TABLE PEOPLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40), "
            "NOTE BLOB SUB_TYPE TEXT, BORN DATE, SALARY NUMERIC(12,2));\n"
            "CREATE INDEX PEOPLE_NAME ON PEOPLE (NAME);\n"
            "INSERT INTO PEOPLE VALUES (1, 'Анна', 'первая строка', '1980-02-29', 1234.56);\n"
            "INSERT INTO PEOPLE VALUES (2, 'Bob', NULL, NULL, -0.01);\n"
            "INSERT INTO PEOPLE SELECT 100 + RDB$RELATION_ID, RDB$RELATION_NAME, NULL, NULL, 0 "
            "FROM RDB$RELATIONS;\n"
            "COMMIT;\n");
        EXPECT_TRUE(platform::FileExists(db)) << out;
        return db;
    }

    std::string Contents(const std::string& db) {
        return Isql("SET LIST ON;\nSELECT * FROM PEOPLE ORDER BY ID;\n", db);
    }

    void UseSystemParams(TFbCustomService& svc) {
        svc.SetParams({"user_name=sysdba", "password=masterkey"});
        svc.LoginPrompt = false;
    }

    // Reads the output to its end as the data module does.
    static std::vector<std::string> ReadAll(TFbControlAndQueryService& svc) {
        std::vector<std::string> lines;
        while (!svc.OutputEnded()) {
            std::string line = svc.ReadOutputLine();
            if (!line.empty()) lines.push_back(std::move(line));
        }
        return lines;
    }

    test::TempDir dir;
    DataModuleOwners owners;
};

TEST_F(EmbeddedEngine, BackupIsRestoredByGbak) {
    const std::string db = MakeDatabase("source.fdb");
    const std::string archive = dir.File("source.fbk");

    TFbBackupService backup(&owners.dm, "BackupService");
    UseSystemParams(backup);
    backup.SetLibraryName("libfbclient.so.2");
    backup.DatabaseName = db;
    backup.BackupFile = {archive};
    backup.Verbose = true;  // many lines, to read them one by one
    backup.SetActive(true);
    backup.StartServiceAction();
    const std::vector<std::string> lines = ReadAll(backup);
    backup.SetActive(false);

    ASSERT_GT(lines.size(), 10u);
    bool sawTable = false;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        if (line.find("PEOPLE") != std::string::npos) sawTable = true;
    }
    EXPECT_TRUE(sawTable);

    const std::string restored = dir.File("by_gbak.fdb");
    const std::string gbak = RunCommand(std::string(QM_GBAK) + " -c " + ShellQuote(archive) + " " +
                                        ShellQuote(restored) + " -user SYSDBA -password masterkey");
    ASSERT_TRUE(platform::FileExists(restored)) << gbak;
    const std::string expected = Contents(db);
    EXPECT_NE(expected.find("Анна"), std::string::npos) << expected;
    EXPECT_EQ(Contents(restored), expected);
}

TEST_F(EmbeddedEngine, RestoreOfAGbakArchive) {
    const std::string db = MakeDatabase("source.fdb");
    const std::string archive = dir.File("by_gbak.fbk");
    const std::string gbak = RunCommand(std::string(QM_GBAK) + " -b " + ShellQuote(db) + " " +
                                        ShellQuote(archive) + " -user SYSDBA -password masterkey");
    ASSERT_TRUE(platform::FileExists(archive)) << gbak;

    // As the data module restores: over an existing database, no verbose
    // output, the page size given.
    const std::string target = MakeDatabase("target.fdb");
    Isql("DELETE FROM PEOPLE;\nCOMMIT;\n", target);
    TFbRestoreService restore(&owners.dm, "RestoreService");
    UseSystemParams(restore);
    restore.PageSize = 4096;
    restore.PageBuffers = 0;
    restore.Options = {TRestoreOption::Replace};
    restore.BackupFile = {archive};
    restore.DatabaseName = {target};
    restore.SetActive(true);
    restore.StartServiceAction();
    const std::vector<std::string> lines = ReadAll(restore);
    restore.SetActive(false);

    // Without verbose output the server says only what it must: here that
    // it made the pages smaller than the archive's.
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("4096"), std::string::npos) << lines[0];
    EXPECT_EQ(Contents(target), Contents(db));
    const std::string pageSize =
        Isql("SET LIST ON;\nSELECT MON$PAGE_SIZE FROM MON$DATABASE;\n", target);
    EXPECT_NE(pageSize.find("4096"), std::string::npos) << pageSize;
}

TEST_F(EmbeddedEngine, ValidationOfACleanDatabaseSaysNothing) {
    const std::string db = MakeDatabase("clean.fdb");
    TFbValidationService validation(&owners.dm, "ValidationService");
    UseSystemParams(validation);
    validation.DatabaseName = db;
    validation.Options = {TValidateOption::CheckDB, TValidateOption::KillShadows,
                          TValidateOption::ValidateDB, TValidateOption::ValidateFull};
    validation.SetActive(true);
    validation.StartServiceAction();
    EXPECT_EQ(validation.ReadOutputLine(), "");
    EXPECT_TRUE(validation.OutputEnded());
    validation.SetActive(false);
    EXPECT_FALSE(validation.Active());
}

TEST_F(EmbeddedEngine, ActionThatFailsOnTheServer) {
    TFbBackupService backup(&owners.dm, "BackupService");
    UseSystemParams(backup);
    backup.DatabaseName = dir.File("missing.fdb");
    backup.BackupFile = {dir.File("missing.fbk")};
    backup.SetActive(true);
    try {
        backup.StartServiceAction();
        ReadAll(backup);
        ADD_FAILURE() << "no error";
    } catch (const EFbEngineError& e) {
        EXPECT_EQ(e.Message().rfind("Moorquill.dm.BackupService:\r\n", 0), 0u) << e.Message();
        EXPECT_NE(e.Message().find("missing.fdb"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(backup.Active());
    backup.SetActive(false);  // as the operations do: nothing left to detach
}

TEST_F(EmbeddedEngine, AttachToAServiceManagerThatIsNotThere) {
    TFbBackupService backup(&owners.dm, "BackupService");
    UseSystemParams(backup);
    backup.SetServerName("127.0.0.1/1");  // a port nothing listens on
    try {
        backup.SetActive(true);
        ADD_FAILURE() << "no error";
    } catch (const EFbEngineError& e) {
        EXPECT_EQ(e.Message().rfind("Moorquill.dm.BackupService:\r\n", 0), 0u) << e.Message();
    }
    EXPECT_FALSE(backup.Active());
    EXPECT_EQ(backup.Handle(), 0u);
}

}  // namespace
}  // namespace qm
