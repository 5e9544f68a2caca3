// The validation through the real embedded engine: a clean database, a copy
// damaged on purpose, every line the server sends counted as a finding, the
// failures that interrupt the check; the dialog through the seams.

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "firebird/database.h"
#include "firebird/services.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/validation_dialog.h"
#include "operations/ui/wait_window.h"
#include "platform/files.h"
#include "tests/operations/fakes/maintenance_fixture.h"
#include "tests/support/scripted_interaction.h"
#ifdef QM_OPS_LOOPBACK_SERVER
#include "tests/support/firebird_server.h"
#endif

namespace qm {
namespace {

using test::DataModule;
using test::FaultClient;
using test::RecordingLog;

const std::string kStart = "Проверка \"Склад\" началась...";
const std::string kInterrupted = "Проверка прервана из-за ошибки.";

class Validation : public ::testing::Test {
protected:
    TFirebirdBase Record(const std::string& db) {
        TFirebirdBase base;
        base.Description = "Склад";
        base.DBFile = db;
        return base;
    }

    test::TempDir dir;
    DataModule m;
    RecordingLog log;
};

TEST_F(Validation, CleanDatabaseHasNoFindings) {
    const std::string db = test::MakeDatabase(dir, "clean.fdb");
    EXPECT_TRUE(m.dm.ValidationBase(Record(db), &log));
    EXPECT_EQ(log.lines, (std::vector<std::string>{kStart, "Ошибок не обнаружено."}));
    EXPECT_FALSE(m.dm.ValidationService->Active());
}

TEST_F(Validation, DamagedCopyGivesFindingsThatAreLoggedAndCounted) {
    const std::string db = test::MakeDatabase(dir, "damaged.fdb", 300, 8192);
    ASSERT_TRUE(test::DamageDataPage(db, 8192));

    EXPECT_FALSE(m.dm.ValidationBase(Record(db), &log));
    ASSERT_GE(log.lines.size(), 3u) << log.All();
    EXPECT_EQ(log.lines.front(), kStart);
    EXPECT_EQ(log.lines.back(), "Проверка выявила ошибки.");
    EXPECT_FALSE(log.Has(kInterrupted)) << log.All();
    // What the server says of the damage varies: the counts of page errors
    // come with the summary only when no other engine of the machine is busy.
    EXPECT_NE(log.All().find("validation errors"), std::string::npos) << log.All();
    EXPECT_FALSE(m.dm.ValidationService->Active());
}

TEST_F(Validation, EveryLineTheServerSendsIsAFinding) {
    const std::string db = test::MakeDatabase(dir, "clean.fdb", 10);
    DataModule withFake(FaultClient::kPath);
    FaultClient faults;
    faults.AddOutputLine(3, "Index 1 (PEOPLE_NAME) has a strange key");
    EXPECT_FALSE(withFake.dm.ValidationBase(Record(db), &log));
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{kStart, "Index 1 (PEOPLE_NAME) has a strange key",
                                        "Проверка выявила ошибки."}));
}

TEST_F(Validation, FailuresInterruptTheCheck) {
    const std::string db = test::MakeDatabase(dir, "clean.fdb", 10);
    const struct {
        const char* name;
        std::string library;
        std::string file;
        std::string expect;
        bool unreachable;
    } cases[] = {
        {"missing client library", dir.File("none/libfbclient.so"), db, "none/libfbclient.so",
         false},
        {"unreachable service manager", FaultClient::kPath, db,
         "Unable to complete network request", true},
        {"no database at the path", platform::kDefaultClientLibrary, dir.File("missing.fdb"),
         "missing.fdb", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DataModule dm(c.library);
        FaultClient faults;
        if (c.unreachable) faults.FailServiceAttach(1);
        log.Clear();
        EXPECT_FALSE(dm.dm.ValidationBase(Record(c.file), &log));
        ASSERT_EQ(log.lines.size(), 3u) << log.All();
        EXPECT_EQ(log.lines[0], kStart);
        EXPECT_NE(log.lines[1].find(c.expect), std::string::npos) << log.lines[1];
        EXPECT_EQ(log.lines[2], kInterrupted);
        EXPECT_FALSE(dm.dm.ValidationService->Active());
    }
    EXPECT_TRUE(platform::FileExists(db));
}

#ifdef QM_OPS_LOOPBACK_SERVER
TEST_F(Validation, WrongPasswordOnAServerThatChecksIt) {
    test::FirebirdServer server("masterkey");
    if (!server.Running()) GTEST_SKIP() << server.Reason();
    const std::string db = test::MakeDatabase(dir, "clean.fdb", 3);
    m.setting.SYSDBAPassword = "wrong";
    const test::ServerVariable toServer(server.Address());
    EXPECT_FALSE(m.dm.ValidationBase(Record(db), &log));
    ASSERT_EQ(log.lines.size(), 3u) << log.All();
    EXPECT_EQ(log.lines[1].rfind("Moorquill.dm.ValidationService:\r\n", 0), 0u) << log.lines[1];
    EXPECT_NE(log.lines[1].find("password"), std::string::npos) << log.lines[1];
    EXPECT_EQ(log.lines[2], kInterrupted);
}
#endif

// ---- the dialog ----------------------------------------------------------

class ValidationDialog : public ::testing::Test {
protected:
    void SetUp() override {
        InstallEventPump(&pump);
        base.Description = "Склад";
        base.DBFile = dir.File("shop.fdb");
    }
    void TearDown() override {
        InstallEventPump(nullptr);
        EXPECT_TRUE(test::VisibleTopLevels().empty());
    }
    void Click(TfrmValidationBase& dlg) { QTest::mouseClick(dlg.btnOk, Qt::LeftButton); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const test::ShownBox& b : boxes.shown) texts.push_back(b.request.text);
        return texts;
    }

    test::TempDir dir;
    DataModule m;
    QtEventPump pump;
    test::ScriptedMessageBoxes boxes;
    TFirebirdBase base;
};

TEST_F(ValidationDialog, Controls) {
    TfrmValidationBase dlg(base, m.dm, nullptr);
    dlg.show();
    EXPECT_EQ(dlg.objectName().toStdString(), "frmValidationBase");
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Проверка базы данных на ошибки: Склад");
    EXPECT_EQ(dlg.size(), QSize(734, 442));
    EXPECT_EQ(dlg.btnOk->text().toStdString(), "Проверить");
    EXPECT_EQ(dlg.btnCancel->text().toStdString(), "Отмена");
    EXPECT_EQ(dlg.findChild<QLabel*>("Label_Warning")->text().toStdString(),
              "При проверке базы данных на наличие ошибок все приложения работающие с ней должны "
              "быть закрыты!");
    EXPECT_EQ(dlg.findChild<QLabel*>("lblValidationLog")->text().toStdString(),
              "Журнал проверки :");
    EXPECT_NE(dlg.findChild<QWidget*>("Bevel"), nullptr);
    EXPECT_TRUE(dlg.MemoLog->isReadOnly());
    dlg.close();
}

TEST_F(ValidationDialog, MissingFileIsAnErrorAndNothingElse) {
    TfrmValidationBase dlg(base, m.dm, nullptr);
    dlg.show();
    Click(dlg);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.title, "Проверка базы данных на ошибки: Склад");
    EXPECT_EQ(boxes.shown[0].request.text, "Файл базы данных не найден.");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
    EXPECT_EQ(boxes.shown[0].request.buttons, unsigned{mbOK});
    EXPECT_TRUE(dlg.MemoLog->toPlainText().isEmpty());
    dlg.close();
}

TEST_F(ValidationDialog, CleanRunAndRunWithErrors) {
    test::MakeDatabase(dir, "shop.fdb", 300, 8192);
    TfrmValidationBase dlg(base, m.dm, nullptr);
    dlg.show();
    boxes.Answer(mbYes);
    Click(dlg);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].request.text, "Начать проверку базы данны \"Склад\" ?");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Question);
    EXPECT_EQ(boxes.shown[0].request.buttons, unsigned{mbYes | mbNo});
    EXPECT_EQ(boxes.shown[0].request.defaultButton, mbNo);
    EXPECT_EQ(boxes.shown[1].request.text, "Проверка завершена.");
    EXPECT_EQ(boxes.shown[1].request.icon, MsgIcon::Information);
    EXPECT_TRUE(dlg.MemoLog->toPlainText().endsWith("> Ошибок не обнаружено."));

    ASSERT_TRUE(test::DamageDataPage(base.DBFile, 8192));
    boxes.Answer(mbYes);
    Click(dlg);
    ASSERT_EQ(boxes.shown.size(), 4u);
    const std::string text = boxes.shown[3].request.text;
    EXPECT_EQ(text, "Проверка завершена c ошибками.");
    // The letter before "ошибками" is the Latin c.
    EXPECT_EQ(text.substr(text.find(" ошибками") - 1, 1), "\x63");
    EXPECT_EQ(boxes.shown[3].request.icon, MsgIcon::Error);
    EXPECT_EQ(boxes.shown[3].request.title, "Проверка базы данных на ошибки: Склад");
    // The second run emptied the log first.
    EXPECT_EQ(dlg.MemoLog->toPlainText().count("началась..."), 1);
    EXPECT_TRUE(dlg.MemoLog->toPlainText().endsWith("> Проверка выявила ошибки."));
    EXPECT_EQ(WaitThread(), nullptr);
    dlg.close();
}

TEST_F(ValidationDialog, DatabaseInUseIsAWarning) {
    test::MakeDatabase(dir, "shop.fdb", 3);
    TComponent owner(nullptr, "Other");
    TFbDatabase other(&owner, "DataBase");
    other.SetDBName(base.DBFile);
    other.SetDBParams({"user_name=SYSDBA", "password=masterkey"});
    other.SetSQLDialect(3);
    other.Connect();
    EXPECT_FALSE(IsFileFree(base.DBFile));

    TfrmValidationBase dlg(base, m.dm, nullptr);
    dlg.show();
    dlg.MemoLog->setPlainText("from before");
    boxes.Answer(mbNo);
    Click(dlg);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.text,
              "Возможно к базе данных подключены другие приложения. Начать проверку базы данны "
              "\"Склад\" всё равно?");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Warning);
    EXPECT_EQ(boxes.shown[0].request.defaultButton, mbNo);
    EXPECT_EQ(dlg.MemoLog->toPlainText().toStdString(), "from before");

    // Yes goes on; the full check needs the database to itself, so the check
    // that leaves the other attachment alone runs instead, and says so.
    boxes.Answer(mbYes);
    Click(dlg);
    EXPECT_EQ(Texts().back(), "Проверка завершена.");
    EXPECT_TRUE(dlg.MemoLog->toPlainText().contains(
        "> К базе данных подключены другие приложения: выполняется проверка без их отключения"));
    EXPECT_TRUE(dlg.MemoLog->toPlainText().endsWith("> Ошибок не обнаружено."));
    EXPECT_TRUE(other.Connected());
    other.Disconnect();
    dlg.close();
}

}  // namespace
}  // namespace qm
