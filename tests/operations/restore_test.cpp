// The restore through the real embedded engine: archives of our own backup and
// of gbak, to new and to existing files, checked with isql-fb; every fault
// that must leave an existing database exactly as it was; the dialog through
// the seams.

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "firebird/database.h"
#include "firebird/query.h"
#include "firebird/services.h"
#include "firebird/transaction.h"
#include "operations/ui/file_name_edit.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/restore_dialog.h"
#include "operations/ui/wait_window.h"
#include "platform/files.h"
#include "tests/operations/fakes/maintenance_fixture.h"
#include "tests/support/scripted_interaction.h"
#ifdef QM_OPS_LOOPBACK_SERVER
#include "tests/support/firebird_server.h"
#endif

namespace qm {
namespace {

using test::Contents;
using test::DataModule;
using test::FaultClient;
using test::FilesIn;
using test::RecordingLog;

// The names sorted, without the script file that isql-fb checks leave behind.
std::vector<std::string> Sorted(std::vector<std::string> names) {
    names.erase(std::remove(names.begin(), names.end(), "isql_script.sql"), names.end());
    std::sort(names.begin(), names.end());
    return names;
}

std::string StartLine(const std::string& db) {
    return "Восстановление базы данных \"" + db + "\" началось...";
}

class Restore : public ::testing::Test {
protected:
    // An archive of a source database, by our own backup.
    std::string OurArchive(const std::string& db) {
        TFirebirdBase base;
        base.Description = "Источник";
        base.DBFile = db;
        const std::string archive = dir.File("ours.fbk");
        RecordingLog backupLog;
        EXPECT_TRUE(m.dm.BackupBase(base, archive, &backupLog)) << backupLog.All();
        return archive;
    }

    test::TempDir dir;
    DataModule m;
    RecordingLog log;
};

TEST_F(Restore, ArchivesOfOurBackupAndOfGbakToNewAndExistingFiles) {
    const std::string source = test::MakeDatabase(dir, "source.fdb");
    const std::string expected = Contents(dir, source);
    ASSERT_NE(expected.find("Анна"), std::string::npos) << expected;
    ASSERT_NE(expected.find("300"), std::string::npos) << expected;

    const std::vector<std::pair<std::string, std::string>> archives = {
        {"ours", OurArchive(source)}, {"gbak", test::GbakBackup(source, dir.File("gbak.fbk"))}};
    for (const auto& [kind, archive] : archives) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(kind + (existing ? " over an existing file" : " to a new file"));
            const std::string target = dir.File(kind + (existing ? "_old.fdb" : "_new.fdb"));
            if (existing) {
                test::MakeDatabase(dir, kind + "_old.fdb", 5);
                ASSERT_NE(Contents(dir, target), expected);
            }
            log.Clear();
            ASSERT_TRUE(m.dm.RestoreBase(archive, target, &log)) << log.All();

            ASSERT_GE(log.lines.size(), 3u);
            EXPECT_EQ(log.lines.front(), StartLine(target));
            EXPECT_EQ(log.lines[log.lines.size() - 2], "Создана база данных: " + target);
            EXPECT_EQ(log.lines.back(), "Восстановление успешно завершено.");
            EXPECT_EQ(Contents(dir, target), expected);
            EXPECT_FALSE(m.dm.RestoreService->Active());
        }
    }
    // Nothing of the runs is left beside the databases.
    for (const std::string& name : FilesIn(dir.Path()))
        EXPECT_TRUE(name.find(".restore-") == std::string::npos &&
                    name.find(".replaced-") == std::string::npos)
            << name;
}

// The larger of the volume's unit and the archive's own page size: pages never
// become smaller than they were.
TEST_F(Restore, PageSizeIsTheLargerOfTheVolumesAndTheArchives) {
    const std::uint32_t cluster = GetClusterSize(dir.File("restored.fdb"));
    if (cluster != 4096 && cluster != 8192)
        GTEST_SKIP() << "the volume's block size " << cluster << " is no small page size";
    for (int archivePage : {4096, 16384}) {
        SCOPED_TRACE(archivePage);
        const std::string name = "source" + std::to_string(archivePage);
        const std::string source = test::MakeDatabase(dir, name + ".fdb", 20, archivePage);
        const std::string archive = test::GbakBackup(source, dir.File(name + ".fbk"));
        EXPECT_EQ(ArchivePageSize(archive), static_cast<std::uint32_t>(archivePage));
        const std::string target = dir.File(name + "-restored.fdb");

        ASSERT_TRUE(m.dm.RestoreBase(archive, target, &log)) << log.All();
        const std::string expected =
            std::to_string(std::max<std::uint32_t>(cluster, static_cast<std::uint32_t>(archivePage)));
        EXPECT_EQ(std::to_string(m.dm.RestoreService->PageSize), expected);
        EXPECT_NE(test::PageSize(dir, target).find(expected), std::string::npos)
            << test::PageSize(dir, target);
    }
}

TEST(RestorePageSize, WhatTheServerTakesAndWhatItWouldRefuse) {
    const struct {
        std::uint32_t cluster;
        std::uint32_t archive;  // 0: unknown
        std::int32_t pageSize;
    } cases[] = {
        {0, 0, 0},          // nothing known: the archive's page size
        {0, 8192, 8192},    {512, 0, 512},  // the server rounds it up to its smallest page
        {4096, 0, 4096},    {4096, 4096, 4096}, {4096, 16384, 16384},
        {8192, 4096, 8192}, {32768, 8192, 32768},
        {65536, 0, 0},      // refused by the server: "expected page size"
        {65536, 8192, 8192}, {1u << 20, 0, 0}, {0xFFFFFFFFu, 4096, 4096},
        {4096, 1u << 20, 4096},  // no archive has such pages
    };
    for (const auto& c : cases)
        EXPECT_EQ(RestorePageSize(c.cluster, c.archive), c.pageSize) << c.cluster << " " << c.archive;
}

TEST(ArchivePageSize, FilesThatAreNoArchiveOfAKnownForm) {
    test::TempDir dir;
    const std::string path = dir.File("x.fbk");
    std::string valid = {0, 2, 4, 10, 0, 0, 0, 0, 14, 5, 4, 0, 0x20, 0, 0, 0};
    test::WriteFile(path, valid);
    EXPECT_EQ(ArchivePageSize(path), 8192u);
    for (const std::string& bytes :
         {std::string(), std::string("plain text"), valid.substr(0, 13),
          std::string{0, 2, 40, 1}, std::string{0, 0, 14, 5, 4, 0, 0x30, 0, 0}}) {
        test::WriteFile(path, bytes);
        EXPECT_EQ(ArchivePageSize(path), 0u) << bytes.size();
    }
    EXPECT_EQ(ArchivePageSize(dir.File("missing.fbk")), 0u);
}

// Every fault over an existing database: the run fails, says why, and the
// database is the very file it was, holding its data; nothing is left beside it.
TEST_F(Restore, FaultsLeaveAnExistingDatabaseAsItWas) {
    const std::string source = test::MakeDatabase(dir, "source.fdb");
    const std::string good = test::GbakBackup(source, dir.File("good.fbk"));
    const std::string goodBytes = test::ReadFile(good);

    struct Case {
        std::string name;
        std::string library;  // "" for the default client library
        std::function<std::string()> archive;
        std::string expect;  // in the error's line
        std::function<void(FaultClient&)> arm;
    };
    const std::string fault = FaultClient::kPath;
    const std::vector<Case> cases = {
        {"unreachable service manager", fault, [&] { return good; },
         "Unable to complete network request", [](FaultClient& f) { f.FailServiceAttach(1); }},
        {"missing client library", dir.File("missing/libfbclient.so"), [&] { return good; },
         "missing/libfbclient.so", nullptr},
        {"truncated archive", "",
         [&] {
             const std::string a = dir.File("truncated.fbk");
             test::WriteFile(a, goodBytes.substr(0, goodBytes.size() / 2));
             return a;
         },
         "неполный или повреждён", nullptr},
        {"archive damaged in its data", "",
         [&] {
             const std::string a = dir.File("damaged.fbk");
             std::string bytes = goodBytes;
             std::fill(bytes.begin() + bytes.size() / 2, bytes.begin() + bytes.size() / 2 + 400,
                       '\xA5');
             test::WriteFile(a, bytes);
             return a;
         },
         "", nullptr},
        {"not an archive", "",
         [&] {
             const std::string a = dir.File("text.fbk");
             test::WriteFile(a, "not an archive at all");
             return a;
         },
         "", nullptr},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = test::MakeDatabase(dir, "target.fdb", 7);
        const std::string before = Contents(dir, target);
        const platform::FileIdentity identity = platform::ProbeFile(target);
        const std::string archive = c.archive();
        const std::vector<std::string> files = Sorted(FilesIn(dir.Path()));

        DataModule dm(c.library.empty() ? platform::kDefaultClientLibrary : c.library);
        FaultClient faults;
        if (c.arm) c.arm(faults);
        log.Clear();
        EXPECT_FALSE(dm.dm.RestoreBase(archive, target, &log));

        ASSERT_GE(log.lines.size(), 3u) << log.All();
        EXPECT_EQ(log.lines.front(), StartLine(target));
        const auto interrupted =
            std::find(log.lines.begin(), log.lines.end(), "Восстановление прервано из-за ошибки.");
        ASSERT_NE(interrupted, log.lines.end()) << log.All();
        EXPECT_NE((interrupted - 1)->find(c.expect), std::string::npos) << log.All();
        EXPECT_FALSE(log.Has("Создана база данных: " + target)) << log.All();
        // A half-built database is removed, and said so; never the target.
        for (auto it = interrupted + 1; it != log.lines.end(); ++it) {
            EXPECT_EQ(
                it->rfind("Повреждённая база данных была удалена: " + target + ".restore-", 0), 0u)
                << *it;
        }

        EXPECT_TRUE(platform::ProbeFile(target) == identity);
        EXPECT_EQ(Contents(dir, target), before);
        EXPECT_EQ(Sorted(FilesIn(dir.Path())), files);
        EXPECT_FALSE(dm.dm.RestoreService->Active());
        platform::DeleteFile(target);
    }
}

// The engine asks for the rest of a broken-off archive on the process's
// standard input; a terminal that never answers must not hold the run.
TEST_F(Restore, BrokenOffArchiveDoesNotWaitForStandardInput) {
    const std::string source = test::MakeDatabase(dir, "source.fdb");
    const std::string archive = test::GbakBackup(source, dir.File("source.fbk"));
    test::Truncate(archive, test::ReadFile(archive).size() / 2);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int saved = ::dup(0);
    ::dup2(fds[0], 0);
    ::close(fds[0]);
    // Only breaks a hang, so that a failure is reported instead of waited for.
    std::atomic<bool> finished{false}, broken{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 600 && !finished; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!finished) {
            broken = true;
            ::close(fds[1]);
        }
    });
    const bool ok = m.dm.RestoreBase(archive, dir.File("new.fdb"), &log);
    finished = true;
    watchdog.join();
    if (!broken) ::close(fds[1]);
    ::dup2(saved, 0);
    ::close(saved);

    EXPECT_FALSE(ok);
    EXPECT_FALSE(broken) << "the restore waited on standard input";
    EXPECT_NE(log.All().find("неполный или повреждён"), std::string::npos) << log.All();
    EXPECT_FALSE(platform::FileExists(dir.File("new.fdb")));
}

// The configured client library is the one the restore loads: the fault armed
// in it is what stops the run.
TEST_F(Restore, UsesTheConfiguredClientLibrary) {
    const std::string source = test::MakeDatabase(dir, "source.fdb", 3);
    const std::string archive = test::GbakBackup(source, dir.File("source.fbk"));
    DataModule withFake(FaultClient::kPath);
    FaultClient faults;
    faults.FailServiceAttach(1);
    EXPECT_FALSE(withFake.dm.RestoreBase(archive, dir.File("new.fdb"), &log));
    EXPECT_EQ(withFake.dm.RestoreService->LibraryName(), FaultClient::kPath);
    EXPECT_FALSE(platform::FileExists(dir.File("new.fdb")));

    // Without a fault the same library restores.
    EXPECT_TRUE(withFake.dm.RestoreBase(archive, dir.File("new.fdb"), &log)) << log.All();
    EXPECT_EQ(Contents(dir, dir.File("new.fdb")), Contents(dir, source));
}

TEST_F(Restore, DatabaseInUseIsNotReplaced) {
    const std::string source = test::MakeDatabase(dir, "source.fdb");
    const std::string archive = test::GbakBackup(source, dir.File("source.fbk"));
    const std::string target = test::MakeDatabase(dir, "target.fdb", 4);
    const std::string before = Contents(dir, target);

    TComponent owner(nullptr, "Other");
    TFbDatabase other(&owner, "DataBase");
    other.SetDBName(target);
    other.SetDBParams({"user_name=SYSDBA", "password=masterkey"});
    other.SetSQLDialect(3);
    other.Connect();
    EXPECT_FALSE(m.dm.RestoreBase(archive, target, &log));
    EXPECT_NE(log.All().find("открыт другим приложением"), std::string::npos) << log.All();
    {
        // The attachment still reads its own database.
        TFbQuery query(&owner, "Query");
        query.SetDatabase(&other);
        other.InternalTransaction().StartTransaction();
        query.SetSqlText({"SELECT COUNT(*) FROM PEOPLE"});
        query.ExecuteQuery();
        EXPECT_EQ(query.FieldAsInt64(0), 4);
        query.Close();
    }
    other.Disconnect();
    EXPECT_EQ(Contents(dir, target), before);
}

TEST_F(Restore, TargetDirectoryThatCannotBeWritten) {
    const std::string source = test::MakeDatabase(dir, "source.fdb", 3);
    const std::string archive = test::GbakBackup(source, dir.File("source.fbk"));

    // A folder that is not there: nothing is made, nothing deleted.
    const std::string missing = dir.File("none/new.fdb");
    EXPECT_FALSE(m.dm.RestoreBase(archive, missing, &log));
    EXPECT_EQ(log.lines.back(), "Восстановление прервано из-за ошибки.") << log.All();
    EXPECT_FALSE(platform::DirectoryExists(dir.File("none")));

    // An existing database in a folder where nothing new can be made.
    ASSERT_EQ(::mkdir(dir.File("sealed").c_str(), 0755), 0);
    const std::string target = test::MakeDatabase(dir, "sealed/target.fdb", 4);
    const std::string before = Contents(dir, target);
    test::SealedDirectory sealed(dir.File("sealed/"));
    if (!sealed.Made()) GTEST_SKIP() << "this system lets every folder be written";
    log.Clear();
    EXPECT_FALSE(m.dm.RestoreBase(archive, target, &log));
    EXPECT_EQ(log.lines.back(), "Восстановление прервано из-за ошибки.") << log.All();
    EXPECT_EQ(Contents(dir, target), before);
    EXPECT_EQ(FilesIn(dir.File("sealed")), std::vector<std::string>{"target.fdb"});
}

TEST_F(Restore, ThroughASymbolicLinkTheDatabaseItselfIsReplaced) {
    const std::string source = test::MakeDatabase(dir, "source.fdb");
    const std::string archive = test::GbakBackup(source, dir.File("source.fbk"));
    const std::string real = test::MakeDatabase(dir, "real.fdb", 2);
    const std::string link = dir.File("link.fdb");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);

    ASSERT_TRUE(m.dm.RestoreBase(archive, link, &log)) << log.All();
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Contents(dir, real), Contents(dir, source));
}

#ifdef QM_OPS_LOOPBACK_SERVER
TEST_F(Restore, WrongPasswordOnAServerThatChecksIt) {
    test::FirebirdServer server("masterkey");
    if (!server.Running()) GTEST_SKIP() << server.Reason();
    const std::string source = test::MakeDatabase(dir, "source.fdb", 3);
    const std::string archive = test::GbakBackup(source, dir.File("source.fbk"));
    const std::string target = test::MakeDatabase(dir, "target.fdb", 2);
    const platform::FileIdentity identity = platform::ProbeFile(target);

    m.setting.SYSDBAPassword = "wrong";
    const test::ServerVariable toServer(server.Address());
    EXPECT_FALSE(m.dm.RestoreBase(archive, target, &log));
    ASSERT_EQ(log.lines.size(), 3u) << log.All();
    EXPECT_EQ(log.lines[1].rfind("Moorquill.dm.RestoreService:\r\n", 0), 0u) << log.lines[1];
    EXPECT_NE(log.lines[1].find("password"), std::string::npos) << log.lines[1];
    EXPECT_TRUE(platform::ProbeFile(target) == identity);
}
#endif

// ---- the dialog ----------------------------------------------------------

class RestoreDialog : public ::testing::Test {
protected:
    void SetUp() override { InstallEventPump(&pump); }
    void TearDown() override {
        InstallEventPump(nullptr);
        EXPECT_TRUE(test::VisibleTopLevels().empty());
    }
    const test::ShownBox& OnlyBox() {
        EXPECT_EQ(boxes.shown.size(), 1u);
        return boxes.shown.back();
    }

    test::TempDir dir;
    DataModule m;
    QtEventPump pump;
    test::ScriptedMessageBoxes boxes;
    test::ScriptedFileDialogs files;
};

TEST_F(RestoreDialog, ControlsAndFileDialogsWithoutASelectedDatabase) {
    TfrmRestoreBase dlg(nullptr, m.dm, nullptr);
    dlg.show();
    EXPECT_EQ(dlg.objectName().toStdString(), "frmRestoreBase");
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Восстановление базы из архива");
    EXPECT_EQ(dlg.size(), QSize(734, 442));
    EXPECT_EQ(dlg.btnOk->text().toStdString(), "Восстановить");
    EXPECT_EQ(dlg.btnCancel->text().toStdString(), "Отмена");
    EXPECT_TRUE(dlg.MemoLog->isReadOnly());
    for (const char* name : {"lbBackupFile", "lblBaseFile", "lblRestoreLog", "edBackupFile",
                             "edBaseFile", "MemoLog", "btnOk", "btnCancel"})
        EXPECT_NE(dlg.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_TRUE(dlg.edBackupFile->Name().empty());
    EXPECT_TRUE(dlg.edBaseFile->Name().empty());

    files.Answer(std::string("/arc/shop 2011_03_07 09-05.fbk"));
    files.Answer(std::string("/arc/other.fbk"));
    files.Answer(std::string("/db/chosen.fdb"));
    dlg.edBackupFile->BrowseAction()->trigger();
    EXPECT_EQ(dlg.edBackupFile->Name(), "/arc/shop 2011_03_07 09-05.fbk");
    EXPECT_EQ(dlg.edBaseFile->Name(), "/arc/shop 2011_03_07 09-05.fdb");
    // Another archive leaves the proposal alone.
    dlg.edBackupFile->BrowseAction()->trigger();
    EXPECT_EQ(dlg.edBackupFile->Name(), "/arc/other.fbk");
    EXPECT_EQ(dlg.edBaseFile->Name(), "/arc/shop 2011_03_07 09-05.fdb");
    dlg.edBaseFile->BrowseAction()->trigger();
    EXPECT_EQ(dlg.edBaseFile->Name(), "/db/chosen.fdb");
    // A cancelled dialog changes nothing.
    dlg.edBaseFile->BrowseAction()->trigger();
    EXPECT_EQ(dlg.edBaseFile->Name(), "/db/chosen.fdb");

    ASSERT_EQ(files.requests.size(), 4u);
    EXPECT_EQ(files.requests[0].kind, FileDialogKind::Open);
    EXPECT_EQ(files.requests[0].title, "Открыть архив...");
    EXPECT_EQ(files.requests[0].filter, "Архив базы Firebird (*.fbk)|*.fbk|Все файл|*.*");
    EXPECT_EQ(files.requests[2].kind, FileDialogKind::Save);
    EXPECT_EQ(files.requests[2].title, "Восстановить базу как..");
    EXPECT_EQ(files.requests[2].filter, "База Firebird (*.fdb)|*.fdb|Все файлы|*.*");
    for (const FileDialogRequest& r : files.requests) EXPECT_EQ(r.initialDir, "");
    EXPECT_TRUE(boxes.shown.empty());
    dlg.close();
}

TEST(RestoreDialogProposal, DatabaseNameFromTheArchive) {
    const struct {
        const char* archive;
        const char* proposal;
    } cases[] = {
        {"/a/b.fbk", "/a/b.fdb"},     {"/a/b", "/a/b.fdb"},
        {"/a.d/b", "/a.d/b.fdb"},  // a full stop of the folder is no extension
        {"/a/b.c.bak", "/a/b.c.fdb"}, {"/a/.fbk", "/a/.fdb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TfrmRestoreBase::ProposedDatabaseName(c.archive), c.proposal) << c.archive;
}

TEST_F(RestoreDialog, SelectedDatabasePresetsTheFoldersOfBothDialogs) {
    TFirebirdBase base;
    base.ArcDir = "/srv/arc";
    TfrmRestoreBase dlg(&base, m.dm, nullptr);
    dlg.show();
    dlg.edBackupFile->BrowseAction()->trigger();
    dlg.edBaseFile->BrowseAction()->trigger();
    ASSERT_EQ(files.requests.size(), 2u);
    EXPECT_EQ(files.requests[0].initialDir, "/srv/arc");
    EXPECT_EQ(files.requests[1].initialDir, "/srv/arc");
    dlg.close();
}

TEST_F(RestoreDialog, RefusedInputMovesTheFocusToTheFieldAtFault) {
    TfrmRestoreBase dlg(nullptr, m.dm, nullptr);
    dlg.show();
    QApplication::setActiveWindow(&dlg);

    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.title, "Восстановление базы из архива");
    EXPECT_EQ(boxes.shown[0].request.text, "Файл архива \"\" не существует.");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
    EXPECT_EQ(boxes.shown[0].request.buttons, unsigned{mbOK});
    EXPECT_EQ(boxes.shown[0].focusName, "edBackupFile");

    const std::string archive = dir.File("a.fbk");
    test::WriteFile(archive, "x");
    dlg.edBackupFile->SetName(dir.File("missing.fbk"));
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].request.text,
              "Файл архива \"" + dir.File("missing.fbk") + "\" не существует.");

    dlg.edBackupFile->SetName(archive);
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[2].request.text, "Файл базы данных не указан.");
    EXPECT_EQ(boxes.shown[2].request.icon, MsgIcon::Error);
    EXPECT_EQ(boxes.shown[2].focusName, "edBaseFile");
    EXPECT_TRUE(dlg.MemoLog->toPlainText().isEmpty());
    dlg.close();
}

TEST_F(RestoreDialog, ExistingTargetIsAskedAboutAndNoChangesNothing) {
    const std::string source = test::MakeDatabase(dir, "source.fdb", 3);
    const std::string archive = test::GbakBackup(source, dir.File("source.fbk"));
    const std::string target = test::MakeDatabase(dir, "target.fdb", 2);
    const platform::FileIdentity identity = platform::ProbeFile(target);

    TfrmRestoreBase dlg(nullptr, m.dm, nullptr);
    dlg.show();
    dlg.edBackupFile->SetName(archive);
    dlg.edBaseFile->SetName(target);
    boxes.Answer(mbNo);
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    const MessageRequest& q = OnlyBox().request;
    EXPECT_EQ(q.text, "Файл базы данных \"" + target +
                          "\" уже существует. Начать восстановление базы данных из архива всё "
                          "равно?");
    EXPECT_EQ(q.icon, MsgIcon::Warning);
    EXPECT_EQ(q.buttons, unsigned{mbYes | mbNo});
    EXPECT_EQ(q.defaultButton, mbNo);
    EXPECT_TRUE(dlg.MemoLog->toPlainText().isEmpty());
    EXPECT_TRUE(platform::ProbeFile(target) == identity);

    // Yes replaces it.
    boxes.Answer(mbYes);
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[2].request.text, "Восстановление завершено.");
    EXPECT_EQ(boxes.shown[2].request.icon, MsgIcon::Information);
    EXPECT_EQ(boxes.WaitWindowShown(), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(Contents(dir, target), Contents(dir, source));
    EXPECT_TRUE(dlg.isEnabled());
    dlg.close();
}

TEST_F(RestoreDialog, NewTargetRunsAndReportsInOneBox) {
    const std::string source = test::MakeDatabase(dir, "source.fdb", 3);
    const std::string archive = test::GbakBackup(source, dir.File("source.fbk"));
    const std::string target = dir.File("new.fdb");

    TfrmRestoreBase dlg(nullptr, m.dm, nullptr);
    dlg.show();
    dlg.edBackupFile->SetName(archive);
    dlg.edBaseFile->SetName(target);
    dlg.MemoLog->setPlainText("left from before");
    boxes.Answer(mbYes);
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].request.text, "Начать восстановление базы данных из архива?");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Question);
    EXPECT_EQ(boxes.shown[0].request.defaultButton, mbNo);
    EXPECT_EQ(boxes.shown[1].request.text, "Восстановление завершено.");
    EXPECT_EQ(boxes.WaitWindowShown(), (std::vector<bool>{false, false}));
    const QStringList lines = dlg.MemoLog->toPlainText().split('\n');
    EXPECT_TRUE(lines.front().endsWith(QString::fromStdString("> " + StartLine(target))))
        << lines.front().toStdString();
    EXPECT_TRUE(lines.back().endsWith("> Восстановление успешно завершено."));

    // A failing run: one error box, after the wait window is gone.
    const std::string notAnArchive = dir.File("bad.fbk");
    test::WriteFile(notAnArchive, "not an archive");
    dlg.edBackupFile->SetName(notAnArchive);
    dlg.edBaseFile->SetName(dir.File("other.fdb"));
    boxes.Answer(mbYes);
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 4u);
    EXPECT_EQ(boxes.shown[3].request.text, "Восстановление прервано из-за ошибки.");
    EXPECT_EQ(boxes.shown[3].request.icon, MsgIcon::Error);
    EXPECT_EQ(boxes.shown[3].request.title, "Восстановление базы из архива");
    EXPECT_FALSE(boxes.WaitWindowShown().back());
    EXPECT_TRUE(dlg.MemoLog->toPlainText().endsWith("> Восстановление прервано из-за ошибки."));
    dlg.close();
}

}  // namespace
}  // namespace qm
