// The optimization through the real embedded engine: a complete run, and each
// step made to fail in turn. After every run the database file, or else a
// complete archive of it, still holds the data; the dialog shows exactly one
// box with the outcome, after the wait window is gone.

#include "operations/optimization.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "firebird/database.h"
#include "firebird/server_route.h"
#include "operations/ui/optimization_dialog.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/wait_window.h"
#include "platform/files.h"
#include "tests/operations/fakes/maintenance_fixture.h"
#include "tests/support/firebird_db.h"
#include "tests/support/scripted_interaction.h"

namespace qm {
namespace {

using test::Contents;
using test::DataModule;
using test::FaultClient;
using test::RecordingLog;

std::ptrdiff_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    const auto it = std::find(lines.begin(), lines.end(), line);
    return it == lines.end() ? -1 : it - lines.begin();
}

TEST(OptimizationArchiveName, BaseNameTimeStampAndTmp) {
    std::tm t{};
    t.tm_year = 2011 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 2;
    const struct {
        const char* dbFile;
        const char* arcDir;
        const char* name;
    } cases[] = {
        {"/data/shop.fdb", "/arc", "/arc/shop_20110307090502.tmp"},
        {"/data/shop.fdb", "/arc/", "/arc/shop_20110307090502.tmp"},
        {"/data/shop.v2.fdb", "/arc", "/arc/shop.v2_20110307090502.tmp"},
    };
    for (const auto& c : cases) {
        TFirebirdBase base;
        base.DBFile = c.dbFile;
        base.ArcDir = c.arcDir;
        EXPECT_EQ(OptimizationArchiveName(base, t), c.name) << c.dbFile << " " << c.arcDir;
    }
}

class Optimization : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir(dir.File("db").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(dir.File("arc").c_str(), 0755), 0);
        base.Description = "Склад";
        base.DBFile = test::MakeDatabase(dir, "db/shop.fdb");
        base.ArcDir = dir.File("arc");
        archive = OptimizationArchiveName(base);
        data = Contents(dir, base.DBFile);
        ASSERT_NE(data.find("Анна"), std::string::npos) << data;
    }

    // The database file holds the data it held before the run.
    void ExpectDataKept() { EXPECT_EQ(Contents(dir, base.DBFile), data); }

    // The archive is complete: gbak restores the same data from it.
    void ExpectCompleteArchive() {
        const std::string check = dir.File("check.fdb");
        const std::string out =
            test::RunCommand(std::string(QM_OPS_GBAK) + " -c " + test::ShellQuote(archive) + " " +
                             test::ShellQuote(check) + " -user SYSDBA -password masterkey");
        EXPECT_EQ(Contents(dir, check), data) << out;
        platform::DeleteFile(check);
    }

    test::TempDir dir;
    TFirebirdBase base;
    std::string archive;
    std::string data;
    RecordingLog log;
};

TEST_F(Optimization, CompleteRunRebuildsTheDatabaseAndRemovesTheArchive) {
    DataModule m;
    const platform::FileIdentity before = platform::ProbeFile(base.DBFile);
    ASSERT_TRUE(OptimizeBase(m.dm, base, archive, &log)) << log.All();

    const std::vector<std::string>& l = log.lines;
    const std::ptrdiff_t lockedOut =
        IndexOf(l, "Подключения к базе данных \"" + base.DBFile +
                       "\" закрыты: на время оптимизации база данных выключена.");
    const std::ptrdiff_t backupStart = IndexOf(l, "Архивация \"Склад\" началась...");
    const std::ptrdiff_t backupDone = IndexOf(l, "Ручная архивация успешна завершена.");
    const std::ptrdiff_t restoreStart =
        IndexOf(l, "Восстановление базы данных \"" + base.DBFile + "\" началось...");
    const std::ptrdiff_t restoreDone = IndexOf(l, "Восстановление успешно завершено.");
    const std::ptrdiff_t deleted = IndexOf(l, "Временный архив \"" + archive + "\" был удалён.");
    const std::ptrdiff_t checkStart = IndexOf(l, "Проверка \"Склад\" началась...");
    const std::ptrdiff_t clean = IndexOf(l, "Ошибок не обнаружено.");
    EXPECT_EQ(lockedOut, 0) << log.All();
    EXPECT_EQ(backupStart, 1) << log.All();
    EXPECT_LT(backupStart, backupDone);
    EXPECT_LT(backupDone, restoreStart);
    EXPECT_LT(restoreStart, restoreDone);
    EXPECT_EQ(deleted, restoreDone + 1) << log.All();
    EXPECT_EQ(checkStart, deleted + 1);
    EXPECT_EQ(clean, checkStart + 1);
    EXPECT_EQ(l.back(), "Оптимизация завершена.");
    EXPECT_EQ(static_cast<std::ptrdiff_t>(l.size()), clean + 2);

    EXPECT_FALSE(platform::FileExists(archive));
    EXPECT_TRUE(test::FilesIn(dir.File("arc")).empty());
    EXPECT_EQ(test::FilesIn(dir.File("db")), std::vector<std::string>{"shop.fdb"});
    // A new file in the old one's place, with the same data.
    EXPECT_NE(platform::ProbeFile(base.DBFile).inode, before.inode);
    ExpectDataKept();
    // The database's own page size, not the volume's smaller unit.
    EXPECT_NE(test::PageSize(dir, base.DBFile).find("8192"), std::string::npos)
        << test::PageSize(dir, base.DBFile);
}

// Each step made to fail in turn.
TEST_F(Optimization, EveryFailureKeepsTheDatabaseOrACompleteArchive) {
    enum class Step { Lockout, Backup, Restore, Validation };
    struct Case {
        std::string name;
        Step step;
        std::string library;  // "" for the default client library
        std::function<void(FaultClient&, RecordingLog&, TFirebirdBase&)> arm;
        bool archiveComplete = true;  // a kept archive can be restored by gbak
    };
    const std::string fault = FaultClient::kPath;
    // The service manager is asked, in turn, to shut the database down (1),
    // to bring it online under its name for the run (2), for the backup (3),
    // the restore (4), to shut the old file down (5) and for the check (6).
    const std::vector<Case> cases = {
        {"shutdown: client library missing", Step::Lockout, dir.File("none/libfbclient.so"),
         nullptr},
        {"shutdown: service manager unreachable", Step::Lockout, fault,
         [](FaultClient& f, RecordingLog&, TFirebirdBase&) { f.FailServiceAttach(1); }},
        {"online for the run: service manager unreachable", Step::Lockout, fault,
         [](FaultClient& f, RecordingLog&, TFirebirdBase&) { f.FailServiceAttach(2); }},
        {"backup: service manager unreachable", Step::Backup, fault,
         [](FaultClient& f, RecordingLog&, TFirebirdBase&) { f.FailServiceAttach(3); }},
        {"backup: archive folder missing", Step::Backup, "",
         [&](FaultClient&, RecordingLog&, TFirebirdBase& b) { b.ArcDir = dir.File("none"); }},
        {"restore: service manager unreachable", Step::Restore, fault,
         [](FaultClient& f, RecordingLog&, TFirebirdBase&) { f.FailServiceAttach(4); }},
        {"restore: archive truncated after the backup", Step::Restore, "",
         [&](FaultClient&, RecordingLog& l, TFirebirdBase&) {
             l.onLine = [&](const std::string& line) {
                 if (line == "Ручная архивация успешна завершена.") {
                     const std::string bytes = test::ReadFile(archive);
                     test::WriteFile(archive, bytes.substr(0, bytes.size() / 2));
                 }
             };
         },
         false},
        {"validation: findings", Step::Validation, fault,
         [](FaultClient& f, RecordingLog&, TFirebirdBase&) {
             f.AddOutputLine(3, "Page 7 wrong type (expected 5 encountered 0)");
         }},
        {"validation: service manager unreachable", Step::Validation, fault,
         [](FaultClient& f, RecordingLog&, TFirebirdBase&) { f.FailServiceAttach(6); }},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFirebirdBase record = base;
        DataModule m(c.library.empty() ? platform::kDefaultClientLibrary : c.library);
        FaultClient faults;
        RecordingLog runLog;
        if (c.arm) c.arm(faults, runLog, record);
        archive = OptimizationArchiveName(record);
        const platform::FileIdentity before = platform::ProbeFile(base.DBFile);

        EXPECT_FALSE(OptimizeBase(m.dm, record, archive, &runLog));
        const std::string kept =
            "Временный архив \"" + archive + "\" сохранён как копия базы данных.";
        const std::string givenBack =
            "База данных \"" + base.DBFile + "\" снова доступна без изменений.";
        switch (c.step) {
            case Step::Lockout:
                EXPECT_EQ(runLog.lines.back(), "Оптимизация прервана из-за ошибки.")
                    << runLog.All();
                EXPECT_FALSE(runLog.Has("Архивация \"Склад\" началась..."));
                EXPECT_FALSE(platform::FileExists(archive));
                EXPECT_EQ(platform::ProbeFile(base.DBFile).inode, before.inode);
                break;
            case Step::Backup:
                EXPECT_TRUE(runLog.Has("Архивация прервана из-за ошибки.")) << runLog.All();
                EXPECT_EQ(runLog.lines.back(), givenBack) << runLog.All();
                EXPECT_FALSE(platform::FileExists(archive));
                EXPECT_EQ(platform::ProbeFile(base.DBFile).inode, before.inode);
                break;
            case Step::Restore:
                EXPECT_EQ(runLog.lines.back(), givenBack) << runLog.All();
                EXPECT_TRUE(runLog.Has(kept)) << runLog.All();
                EXPECT_TRUE(runLog.Has("Восстановление прервано из-за ошибки."));
                EXPECT_EQ(platform::ProbeFile(base.DBFile).inode, before.inode);
                if (c.archiveComplete) ExpectCompleteArchive();
                platform::DeleteFile(archive);
                break;
            case Step::Validation:
                EXPECT_EQ(runLog.lines.back(), "Оптимизация прервана из-за ошибки.")
                    << runLog.All();
                EXPECT_TRUE(runLog.Has("Временный архив \"" + archive + "\" был удалён."));
                EXPECT_FALSE(platform::FileExists(archive));
                break;
        }
        EXPECT_FALSE(runLog.Has("Оптимизация завершена."));
        ExpectDataKept();
        EXPECT_TRUE(test::FilesIn(dir.File("arc")).empty());
        EXPECT_EQ(test::FilesIn(dir.File("db")), std::vector<std::string>{"shop.fdb"});
    }
}

// Another program's engine holds the file: the embedded engine of this one
// cannot even shut it down, and nothing is touched.
TEST_F(Optimization, DatabaseAnotherProgramHoldsIsLeftAlone) {
    DataModule m;
    const platform::FileIdentity before = platform::ProbeFile(base.DBFile);
    {
        test::HeldAttachment other(dir, base.DBFile);
        ASSERT_TRUE(other.Holding());
        EXPECT_FALSE(OptimizeBase(m.dm, base, archive, &log));
        EXPECT_EQ(log.lines.back(), "Оптимизация прервана из-за ошибки.") << log.All();
        EXPECT_FALSE(log.Has("Архивация \"Склад\" началась...")) << log.All();
        EXPECT_TRUE(other.StillWorks());
    }
    // The other program's visits change the file, but it is the same file.
    EXPECT_EQ(platform::ProbeFile(base.DBFile).inode, before.inode);
    EXPECT_FALSE(platform::FileExists(archive));
    EXPECT_EQ(test::FilesIn(dir.File("db")), std::vector<std::string>{"shop.fdb"});
    ExpectDataKept();
}

// A server of another machine has its own files: this one cannot move them.
TEST_F(Optimization, AServerOfAnotherMachineIsRefusedBeforeAnythingIsAsked) {
    DataModule m;
    ::setenv(kServerVariable, "db.example/3050", 1);
    const bool ok = OptimizeBase(m.dm, base, archive, &log);
    ::setenv(kServerVariable, "127.0.0.1/1", 1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "Сервер Firebird db.example/3050 работает на другом компьютере: базу "
                             "данных заменяют только на компьютере её сервера.",
                             "Оптимизация прервана из-за ошибки."}));
    ExpectDataKept();
}

// A LINGER time keeps the database open after the last attachment; the run
// lets go of it all the same.
TEST_F(Optimization, LingeringDatabaseIsOptimized) {
    test::Isql(dir, "ALTER DATABASE SET LINGER TO 60;\nCOMMIT;\n", base.DBFile);
    DataModule m;
    // The engine of this process keeps the database from an earlier visit.
    ASSERT_TRUE(m.dm.BackupBase(base, dir.File("arc/earlier.fbk"), &log)) << log.All();
    platform::DeleteFile(dir.File("arc/earlier.fbk"));
    log.Clear();
    ASSERT_TRUE(OptimizeBase(m.dm, base, archive, &log)) << log.All();
    EXPECT_EQ(test::FilesIn(dir.File("db")), std::vector<std::string>{"shop.fdb"});
    // The rebuilt database lingers in this process's engine in turn, as its
    // LINGER says, so it is read from here.
    const auto db = test::OpenTestDatabase(base.DBFile);
    EXPECT_EQ(test::QueryText(*db, "SELECT COUNT(*) FROM PEOPLE"), "300");
    EXPECT_EQ(test::QueryText(*db, "SELECT NAME FROM PEOPLE WHERE ID = 1"), "Анна");
    db->Disconnect();
}

TEST_F(Optimization, ArchiveThatCannotBeDeletedIsLoggedAndTheRunGoesOn) {
    DataModule m;
    // Once the restore is done, nothing can be removed from the archive folder.
    std::optional<test::SealedDirectory> sealed;
    log.onLine = [&](const std::string& line) {
        if (line == "Восстановление успешно завершено.") sealed.emplace(dir.File("arc/"));
    };
    const bool ok = OptimizeBase(m.dm, base, archive, &log);
    const bool made = sealed && sealed->Made();
    sealed.reset();
    if (!made) GTEST_SKIP() << "this system lets every folder be changed";

    EXPECT_TRUE(ok) << log.All();
    EXPECT_TRUE(log.Has("Невозможно  удалить временный архив \"" + archive + "\"")) << log.All();
    EXPECT_TRUE(platform::FileExists(archive));
    EXPECT_EQ(log.lines.back(), "Оптимизация завершена.");
    ExpectDataKept();
}

// ---- the dialog ----------------------------------------------------------

class OptimizationDialog : public ::testing::Test {
protected:
    void SetUp() override {
        InstallEventPump(&pump);
        ASSERT_EQ(::mkdir(dir.File("arc").c_str(), 0755), 0);
        base.Description = "Склад";
        base.DBFile = dir.File("shop.fdb");
        base.ArcDir = dir.File("arc");
    }
    void TearDown() override {
        InstallEventPump(nullptr);
        EXPECT_TRUE(test::VisibleTopLevels().empty());
    }
    const std::vector<test::ShownBox>& Shown() const { return boxes.shown; }

    test::TempDir dir;
    QtEventPump pump;
    test::ScriptedMessageBoxes boxes;
    TFirebirdBase base;
};

TEST_F(OptimizationDialog, Controls) {
    DataModule m;
    TfrmOptimizationBase dlg(base, m.dm, nullptr);
    dlg.show();
    EXPECT_EQ(dlg.objectName().toStdString(), "frmOptimizationBase");
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Оптимизация работы базы данных : Склад");
    EXPECT_EQ(dlg.size(), QSize(734, 442));
    EXPECT_EQ(dlg.btnOk->text().toStdString(), "Оптимизировать");
    EXPECT_EQ(dlg.btnCancel->text().toStdString(), "Отмена");
    EXPECT_EQ(dlg.findChild<QLabel*>("Label_Warning")->text().toStdString(),
              "Оптимизация базы данных - тест базы данных на наличие ошибок; архивирование и "
              "последующее восстановление базы данных; улучшение производительности индексов. "
              "Оптимизация уменьшает размер базы данных, повышает скорость работы с ней.\n"
              "При ремонте базы данных все приложения работающие с ней должны быть закрыты!");
    EXPECT_EQ(dlg.findChild<QLabel*>("lblOptimizationLog")->text().toStdString(),
              "Журнал оптимизации :");
    EXPECT_NE(dlg.findChild<QWidget*>("Bevel"), nullptr);
    EXPECT_TRUE(dlg.MemoLog->isReadOnly());
    dlg.close();
}

TEST_F(OptimizationDialog, MissingFileAndAnsweringNo) {
    DataModule m;
    TfrmOptimizationBase dlg(base, m.dm, nullptr);
    dlg.show();
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].request.title, "Оптимизация работы базы данных : Склад");
    EXPECT_EQ(Shown()[0].request.text, "Файл базы данных не найден.");
    EXPECT_EQ(Shown()[0].request.icon, MsgIcon::Error);
    EXPECT_EQ(Shown()[0].request.buttons, unsigned{mbOK});

    test::MakeDatabase(dir, "shop.fdb", 3);
    const platform::FileIdentity before = platform::ProbeFile(base.DBFile);
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);  // the default answer: No
    ASSERT_EQ(Shown().size(), 2u);
    EXPECT_EQ(Shown()[1].request.text, "Начать оптимизацию базы данны \"Склад\" ?");
    EXPECT_EQ(Shown()[1].request.icon, MsgIcon::Question);
    EXPECT_EQ(Shown()[1].request.buttons, unsigned{mbYes | mbNo});
    EXPECT_EQ(Shown()[1].request.defaultButton, mbNo);
    EXPECT_TRUE(dlg.MemoLog->toPlainText().isEmpty());
    EXPECT_TRUE(platform::ProbeFile(base.DBFile) == before);
    EXPECT_TRUE(test::FilesIn(dir.File("arc")).empty());
    dlg.close();
}

TEST_F(OptimizationDialog, SuccessAndFailureEachShowOneBoxAfterTheWaitWindow) {
    test::MakeDatabase(dir, "shop.fdb", 50);
    DataModule m(FaultClient::kPath);
    FaultClient faults;
    TfrmOptimizationBase dlg(base, m.dm, nullptr);
    dlg.show();

    boxes.Answer(mbYes);
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(Shown().size(), 2u);
    EXPECT_EQ(Shown()[1].request.text, "Оптимизация завершена.");
    EXPECT_EQ(Shown()[1].request.icon, MsgIcon::Information);
    EXPECT_TRUE(dlg.MemoLog->toPlainText().endsWith("> Оптимизация завершена."));
    EXPECT_FALSE(platform::FileExists(dlg.LastArchive()));

    // The restore (the fourth request to the service manager) fails: one error
    // box; the archive stays and the log says so.
    faults.FailServiceAttach(4);
    boxes.Answer(mbYes);
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(Shown().size(), 4u);
    EXPECT_EQ(Shown()[3].request.text, "Оптимизация прервана из-за ошибки.");
    EXPECT_EQ(Shown()[3].request.icon, MsgIcon::Error);
    EXPECT_EQ(Shown()[3].request.title, "Оптимизация работы базы данных : Склад");
    EXPECT_TRUE(platform::FileExists(dlg.LastArchive()));
    EXPECT_TRUE(dlg.MemoLog->toPlainText().contains(QString::fromStdString(
        "> Временный архив \"" + dlg.LastArchive() + "\" сохранён как копия базы данных.")));
    EXPECT_EQ(dlg.MemoLog->toPlainText().count("Архивация \"Склад\" началась..."), 1);

    EXPECT_EQ(boxes.WaitWindowShown(), (std::vector<bool>{false, false, false, false}));
    EXPECT_TRUE(dlg.isEnabled());
    dlg.close();
}

TEST_F(OptimizationDialog, DatabaseInUseIsAWarning) {
    test::MakeDatabase(dir, "shop.fdb", 3);
    DataModule m;
    TComponent owner(nullptr, "Other");
    TFbDatabase other(&owner, "DataBase");
    other.SetDBName(base.DBFile);
    other.SetDBParams({"user_name=SYSDBA", "password=masterkey"});
    other.SetSQLDialect(3);
    other.Connect();

    TfrmOptimizationBase dlg(base, m.dm, nullptr);
    dlg.show();
    boxes.Answer(mbNo);
    QTest::mouseClick(dlg.btnOk, Qt::LeftButton);
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].request.text,
              "Возможно к базе данных подключены другие приложения. Начать оптимизацию базы "
              "данны \"Склад\" всё равно?");
    EXPECT_EQ(Shown()[0].request.icon, MsgIcon::Warning);
    EXPECT_EQ(Shown()[0].request.defaultButton, mbNo);
    EXPECT_TRUE(dlg.MemoLog->toPlainText().isEmpty());
    other.Disconnect();
    dlg.close();
}

}  // namespace
}  // namespace qm
