#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/database.h"
#include "firebird/query.h"
#include "firebird/transaction.h"
#include "operations/data_module.h"
#include "operations/ui/file_name_edit.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/script_dialog.h"
#include "operations/ui/wait_window.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "tests/support/firebird_db.h"
#include "tests/support/firebird_server.h"
#include "tests/support/scripted_interaction.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr const char* kCaption = "Выполнение скрипта: Склад";
constexpr const char* kFailedBox = "Выполнение скрипта завершено c ошибками.";

std::unique_ptr<TFbDatabase> Attach(const std::string& path, const std::string& password) {
    auto db = std::make_unique<TFbDatabase>();
    db->SetDBName(path);
    db->SetLibraryName(platform::kDefaultClientLibrary);
    db->SetDBParams({"user_name=SYSDBA", "password=" + password});
    db->SetSQLDialect(3);
    db->Connect();
    return db;
}

void CreateDatabase(const std::string& path, const std::string& password = "masterkey") {
    TFbDatabase db;
    db.SetDBName(path);
    db.SetLibraryName(platform::kDefaultClientLibrary);
    db.SetSQLDialect(3);
    db.SetDBParams({"USER 'SYSDBA' PASSWORD '" + password + "' DEFAULT CHARACTER SET UTF8"});
    db.CreateDatabase();
    db.Disconnect();
}

// The first column of every row, read on a connection of the test's own.
std::vector<std::string> Column(const std::string& path, const std::string& sql) {
    std::vector<std::string> out;
    for (const auto& row : test::QueryRows(*Attach(path, "masterkey"), sql))
        out.push_back(row.at(0));
    return out;
}

class ScriptDialogTest : public ::testing::Test {
protected:
    ScriptDialogTest() {
        setting.LibraryName = platform::kDefaultClientLibrary;
        setting.SYSDBAPassword = "masterkey";
        dm = std::make_unique<Tdm>(&moorquill, setting);
        base.Description = "Склад";
        base.DBFile = dir.File("store.fdb");
        InstallEventPump(&pump);
    }
    ~ScriptDialogTest() override {
        form.reset();
        InstallEventPump(nullptr);
        EXPECT_THAT(test::VisibleTopLevels(), IsEmpty());
    }

    TfrmScriptBase& Open() {
        form = std::make_unique<TfrmScriptBase>(base, *dm, nullptr);
        form->show();
        form->activateWindow();
        QApplication::processEvents();
        return *form;
    }

    std::string Script(const std::string& text) {
        const std::string path = dir.File("script.sql");
        test::WriteFile(path, text);
        return path;
    }

    // Runs the script through the button with Yes to the question; the log
    // lines, each time stamp checked and taken off.
    std::vector<std::string> RunThroughTheButton(const std::string& script) {
        TfrmScriptBase& f = form ? *form : Open();
        f.edScriptFile->SetName(script);
        boxes.Answer(mbYes);
        f.btnOk->click();
        return LogLines();
    }

    std::vector<std::string> LogLines() const {
        static const QRegularExpression stamp(
            QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d > "));
        std::vector<std::string> out;
        for (QString line : form->MemoLog->toPlainText().split('\n')) {
            out.push_back(S(line.remove(stamp)));
        }
        return out;
    }

    // The box that reported the outcome: the last one, with its title checked.
    const MessageRequest& Outcome() {
        EXPECT_FALSE(boxes.shown.empty());
        const MessageRequest& r = boxes.shown.back().request;
        EXPECT_EQ(r.title, kCaption);
        EXPECT_EQ(r.buttons, unsigned{mbOK});
        return r;
    }

    void ExpectIdle() {
        EXPECT_EQ(WaitThread(), nullptr);
        EXPECT_TRUE(form->isEnabled());
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(dm->DataBase->Connected());
    }

    test::TempDir dir;
    TComponent moorquill{nullptr, "Moorquill"};
    TSetting setting{false};
    std::unique_ptr<Tdm> dm;
    TFirebirdBase base;
    QtEventPump pump;
    test::ScriptedMessageBoxes boxes;
    test::ScriptedFileDialogs dialogs;
    std::unique_ptr<TfrmScriptBase> form;
};

TEST_F(ScriptDialogTest, OpensWithItsControls) {
    TfrmScriptBase& f = Open();
    EXPECT_EQ(f.objectName(), "frmScriptBase");
    EXPECT_EQ(S(f.windowTitle()), kCaption);
    EXPECT_EQ(f.size(), QSize(734, 442));
    const std::pair<const char*, const char*> labels[] = {
        {"lbScriptFile", "Файл скрипта :"},
        {"lblSQLDialect", "SQL Диалект :"},
        {"lblCharSet", "Кодировка :"},
        {"lblRole", "Роль :"},
        {"lblScriptLog", "Журнал выполнения скрипта :"},
    };
    for (const auto& [name, text] : labels) {
        QLabel* label = f.findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(S(label->text()), text);
    }
    EXPECT_EQ(S(f.btnOk->text()), "Выполнить");
    EXPECT_EQ(S(f.btnCancel->text()), "Отмена");
    EXPECT_EQ(f.seSQLDialect->minimum(), 1);
    EXPECT_EQ(f.seSQLDialect->maximum(), 3);
    EXPECT_EQ(f.seSQLDialect->value(), 3);
    std::vector<std::string> charSets;
    for (int i = 0; i < f.cbCharSet->count(); ++i) charSets.push_back(S(f.cbCharSet->itemText(i)));
    EXPECT_THAT(charSets,
                ElementsAre("ASCII", "CYRL", "DOS437", "DOS850", "DOS852", "DOS857", "DOS860",
                            "DOS861", "DOS863", "DOS865", "DOS866", "EUCJ_0208", "ISO8859_1",
                            "NEXT", "NONE", "OCTETS", "SJIS_0208", "UNICODE_FSS", "UTF8", "WIN1250",
                            "WIN1251", "WIN1252", "WIN1253", "WIN1254"));
    EXPECT_EQ(S(f.cbCharSet->currentText()), "WIN1251");
    EXPECT_TRUE(f.edRole->text().isEmpty());
    EXPECT_TRUE(f.MemoLog->isReadOnly());
    EXPECT_EQ(f.focusWidget(), f.edScriptFile);

    // Typed letters of the character set become capitals; the dialect stays
    // within 1 to 3; the file name takes no typing.
    f.cbCharSet->lineEdit()->clear();
    QTest::keyClicks(f.cbCharSet->lineEdit(), "utf8");
    EXPECT_EQ(S(f.cbCharSet->currentText()), "UTF8");
    f.seSQLDialect->setValue(7);
    EXPECT_EQ(f.seSQLDialect->value(), 3);
    f.seSQLDialect->setValue(0);
    EXPECT_EQ(f.seSQLDialect->value(), 1);
    QTest::keyClicks(f.edScriptFile, "abc");
    EXPECT_EQ(f.edScriptFile->Name(), "");

    QTest::keyClick(&f, Qt::Key_Escape);
    EXPECT_EQ(f.result(), QDialog::Rejected);
}

TEST_F(ScriptDialogTest, ChoosingAScriptShowsItsTextAndRunningReplacesIt) {
    CreateDatabase(base.DBFile);
    TfrmScriptBase& f = Open();
    const std::string script =
        Script("CREATE TABLE T (ID INTEGER);\r\nINSERT INTO T VALUES (1);\n");
    dialogs.Answer(script);
    f.edScriptFile->BrowseAction()->trigger();
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].kind, FileDialogKind::Open);
    EXPECT_EQ(dialogs.requests[0].title, "Открыть скрипт...");
    EXPECT_EQ(dialogs.requests[0].filter, "Файлы скрипта (*.sql)|*.sql|Все файлы|*.*");
    EXPECT_EQ(f.edScriptFile->Name(), script);
    EXPECT_EQ(S(f.MemoLog->toPlainText()),
              "CREATE TABLE T (ID INTEGER);\nINSERT INTO T VALUES (1);\n");

    // A cancelled dialog changes nothing.
    f.edScriptFile->BrowseAction()->trigger();
    EXPECT_EQ(f.edScriptFile->Name(), script);
    EXPECT_THAT(S(f.MemoLog->toPlainText()), HasSubstr("INSERT INTO T"));
    EXPECT_THAT(boxes.shown, IsEmpty());

    EXPECT_THAT(RunThroughTheButton(script),
                ElementsAre("Подключение к базе данных: " + base.DBFile + "...",
                            "Соединение установлено.", "Выполнение скрипта...",
                            "Скрипт выполнен успешно.", "Отключение от базы данных."));
    ASSERT_EQ(boxes.shown.size(), 2u);
    const MessageRequest& q = boxes.shown[0].request;
    EXPECT_EQ(q.title, kCaption);
    EXPECT_EQ(q.text, "Начать выполнение скрипта?");
    EXPECT_EQ(q.icon, MsgIcon::Question);
    EXPECT_EQ(q.buttons, unsigned{mbYes | mbNo});
    EXPECT_EQ(q.defaultButton, mbNo);
    EXPECT_EQ(Outcome().text, "Выполнение скрипта завершено успешно.");
    EXPECT_EQ(Outcome().icon, MsgIcon::Information);
    ExpectIdle();
    // What the run left open was committed.
    EXPECT_EQ(Column(base.DBFile, "SELECT ID FROM T"), std::vector<std::string>{"1"});
}

TEST_F(ScriptDialogTest, AScriptThatCannotBeReadForThePreviewIsAnError) {
    TfrmScriptBase& f = Open();
    f.MemoLog->setPlainText(QStringLiteral("earlier"));
    dialogs.Answer(dir.File("gone.sql"));
    f.edScriptFile->BrowseAction()->trigger();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.title, kCaption);
    EXPECT_EQ(boxes.shown[0].request.text, "Ошибка загрузки скрипта из файла.");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
    EXPECT_TRUE(f.MemoLog->toPlainText().isEmpty());
}

TEST_F(ScriptDialogTest, AMissingScriptFileIsRefusedWithTheFocusOnItsName) {
    TfrmScriptBase& f = Open();
    for (const std::string& name : {std::string(), dir.File("none.sql")}) {
        boxes.shown.clear();
        f.edScriptFile->SetName(name);
        f.btnOk->setFocus();
        f.btnOk->click();
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].request.title, kCaption);
        EXPECT_EQ(boxes.shown[0].request.text, "Файл скрипта не найден.");
        EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
        EXPECT_EQ(boxes.shown[0].request.buttons, unsigned{mbOK});
        EXPECT_EQ(boxes.shown[0].focusName, "edScriptFile");
    }
}

TEST_F(ScriptDialogTest, ADatabaseInUseIsAWarningAndNoRunsNothing) {
    CreateDatabase(base.DBFile);
    TfrmScriptBase& f = Open();
    f.edScriptFile->SetName(Script("CREATE TABLE T (ID INTEGER);\n"));
    f.MemoLog->setPlainText(QStringLiteral("preview"));
    const int held = ::open(base.DBFile.c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    f.btnOk->click();  // no answer queued: the default button, No
    ::close(held);
    ASSERT_EQ(boxes.shown.size(), 1u);
    const MessageRequest& q = boxes.shown[0].request;
    EXPECT_EQ(q.title, kCaption);
    EXPECT_EQ(q.text,
              "Возможно к базе данных подключены другие приложения. Начать выполнение "
              "скрипта всё равно?");
    EXPECT_EQ(q.icon, MsgIcon::Warning);
    EXPECT_EQ(q.defaultButton, mbNo);
    EXPECT_EQ(S(f.MemoLog->toPlainText()), "preview");
    EXPECT_FALSE(dm->DataBase->Connected());
}

TEST_F(ScriptDialogTest, AFailingStatementIsLoggedWithItsLineAndTheRunGoesOn) {
    CreateDatabase(base.DBFile);
    Open();
    std::vector<std::string> duringRun;
    QObject::connect(form->MemoLog, &QPlainTextEdit::textChanged, form.get(), [&] {
        TWaitThread* w = WaitThread();
        duringRun.push_back(w == nullptr        ? "no wait window"
                            : form->isEnabled() ? "dialog enabled"
                                                : S(w->WaitForm()->lblInfo->text()));
    });
    const std::vector<std::string> log =
        RunThroughTheButton(Script("-- the store's script\n"
                                   "CREATE TABLE ITEMS (ID INTEGER NOT NULL, NAME VARCHAR(20));\n"
                                   "\n"
                                   "INSERT INTO ITEMS VALUES (1, 'one');\n"
                                   "INSERT INTO ITEMS VALUES (2, 'two');\n"
                                   "COMMIT;\n"
                                   "/* statements\n"
                                   "   after the commit */\n"
                                   "INSERT INTO ITEMS VALUES (3, 'three');\n"
                                   "\n"
                                   "\n"
                                   "  INSERT INTO MISSING VALUES (4);\n"
                                   "INSERT INTO ITEMS VALUES (5, 'five');\n"));

    // The time stamp stands alone, the line number on the next line, then
    // the server's message over its own lines.
    ASSERT_GE(log.size(), 9u);
    EXPECT_THAT(
        std::vector<std::string>(log.begin(), log.begin() + 5),
        ElementsAre("Подключение к базе данных: " + base.DBFile + "...", "Соединение установлено.",
                    "Выполнение скрипта...", "", "Ошибка в строке номер: 12"));
    EXPECT_EQ(S(form->MemoLog->toPlainText().split('\n')[3]).size(), 22u);
    const std::vector<std::string> message(log.begin() + 5, log.end() - 2);
    EXPECT_EQ(message.front(), "Moorquill.dm.Script:");
    std::string joined;
    for (const std::string& l : message) joined += l + "\n";
    EXPECT_THAT(joined, HasSubstr("Table unknown.\nMISSING."));
    EXPECT_THAT(std::vector<std::string>(log.end() - 2, log.end()),
                ElementsAre("Скрипт выполнен некорректно.", "Отключение от базы данных."));

    EXPECT_EQ(Outcome().text, kFailedBox);
    EXPECT_EQ(Outcome().icon, MsgIcon::Error);
    ExpectIdle();
    EXPECT_THAT(duringRun, Not(IsEmpty()));
    for (const std::string& state : duringRun) {
        EXPECT_EQ(state, "Выполняется скрипт над базы данных...");
    }
    // The failure rolled back statement 3; statement 5 ran and was committed.
    EXPECT_EQ(Column(base.DBFile, "SELECT ID FROM ITEMS ORDER BY ID"),
              (std::vector<std::string>{"1", "2", "5"}));
}

TEST_F(ScriptDialogTest, AnEmptyScriptRunsNothing) {
    CreateDatabase(base.DBFile);
    EXPECT_THAT(
        RunThroughTheButton(Script("")),
        ElementsAre("Подключение к базе данных: " + base.DBFile + "...", "Соединение установлено.",
                    "Скрипт действий для базы данных пустой.", "Отключение от базы данных."));
    EXPECT_EQ(Outcome().text, kFailedBox);
    ExpectIdle();
}

TEST_F(ScriptDialogTest, AnErrorThatLeavesTheRunIsLoggedAndTheDialogComesBack) {
    CreateDatabase(base.DBFile);
    EXPECT_THAT(
        RunThroughTheButton(Script("CREATE TABLE T (ID INTEGER);\n"
                                   "INSERT INTO T VALUES (1);\n"
                                   "SET SQL DIALECT three;\n"
                                   "INSERT INTO T VALUES (2);\n")),
        ElementsAre("Подключение к базе данных: " + base.DBFile + "...", "Соединение установлено.",
                    "Выполнение скрипта...", "'three' is not a valid integer value",
                    "Скрипт выполнен некорректно.", "Отключение от базы данных."));
    EXPECT_EQ(Outcome().text, kFailedBox);
    EXPECT_EQ(Outcome().icon, MsgIcon::Error);
    ExpectIdle();
    // The table was committed by its own statement; the insert went with the run.
    EXPECT_THAT(Column(base.DBFile, "SELECT ID FROM T"), IsEmpty());
}

TEST_F(ScriptDialogTest, ACommitRefusedAtTheEndMakesTheRunAFailureOnly) {
    // With AUTODDL off the unique index is built by the closing commit, which
    // the duplicate rows make the server refuse.
    CreateDatabase(base.DBFile);
    const std::vector<std::string> log =
        RunThroughTheButton(Script("CREATE TABLE T (ID INTEGER);\n"
                                   "SET AUTODDL OFF;\n"
                                   "INSERT INTO T VALUES (1);\n"
                                   "INSERT INTO T VALUES (1);\n"
                                   "CREATE UNIQUE INDEX T_UNIQUE ON T (ID);\n"));
    EXPECT_THAT(log, Not(Contains("Скрипт выполнен успешно.")));
    ASSERT_GE(log.size(), 2u);
    EXPECT_THAT(std::vector<std::string>(log.end() - 2, log.end()),
                ElementsAre("Скрипт выполнен некорректно.", "Отключение от базы данных."));
    EXPECT_EQ(Outcome().text, kFailedBox);
    ExpectIdle();
    EXPECT_THAT(Column(base.DBFile, "SELECT ID FROM T"), IsEmpty());
}

TEST_F(ScriptDialogTest, AScriptThatInputsItselfEndsWithOneError) {
    CreateDatabase(base.DBFile);
    const std::string path = dir.File("self.sql");
    test::WriteFile(path,
                    "CREATE TABLE T (ID INTEGER);\n"
                    "INSERT INTO T VALUES (1);\n"
                    "INPUT '" +
                        path +
                        "';\n"
                        "INSERT INTO T VALUES (2);\n");
    EXPECT_THAT(RunThroughTheButton(path),
                ElementsAre("Подключение к базе данных: " + base.DBFile + "...",
                            "Соединение установлено.", "Выполнение скрипта...",
                            "INPUT of \"" + path +
                                "\" refused: the file is already being run (an INPUT cycle).",
                            "Скрипт выполнен некорректно.", "Отключение от базы данных."));
    EXPECT_EQ(Outcome().text, kFailedBox);
    ExpectIdle();
    EXPECT_THAT(Column(base.DBFile, "SELECT ID FROM T"), IsEmpty());
}

TEST_F(ScriptDialogTest, AScriptIsShownAndLoggedInTheCharacterSetTheDialogNames) {
    CreateDatabase(base.DBFile);
    TfrmScriptBase& f = Open();
    // ТОВАРЫ and НЕТ_ТАКОЙ in Windows-1251, the dialog's default.
    const std::string script = Script(
        "CREATE TABLE \"\xD2\xCE\xC2\xC0\xD0\xDB\" (ID INTEGER);\n"
        "INSERT INTO \"\xCD\xC5\xD2\x5F\xD2\xC0\xCA\xCE\xC9\" VALUES (1);\n");
    dialogs.Answer(script);
    f.edScriptFile->BrowseAction()->trigger();
    EXPECT_EQ(S(f.MemoLog->toPlainText()),
              "CREATE TABLE \"ТОВАРЫ\" (ID INTEGER);\nINSERT INTO \"НЕТ_ТАКОЙ\" VALUES (1);\n");

    const std::vector<std::string> log = RunThroughTheButton(script);
    std::string joined;
    for (const std::string& l : log) joined += l + "\n";
    EXPECT_THAT(joined, HasSubstr("НЕТ_ТАКОЙ"));
    EXPECT_EQ(Outcome().text, kFailedBox);
    EXPECT_EQ(Column(base.DBFile,
                     "SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS "
                     "WHERE RDB$RELATION_NAME = 'ТОВАРЫ'"),
              std::vector<std::string>{"ТОВАРЫ"});

    // A UTF-8 script under UTF8 shows as it is.
    f.cbCharSet->setCurrentText(QStringLiteral("UTF8"));
    const std::string utf8 = Script("INSERT INTO \"НЕТ_ТАКОЙ\" VALUES (1);\n");
    dialogs.Answer(utf8);
    f.edScriptFile->BrowseAction()->trigger();
    EXPECT_EQ(S(f.MemoLog->toPlainText()), "INSERT INTO \"НЕТ_ТАКОЙ\" VALUES (1);\n");
}

TEST_F(ScriptDialogTest, AFailedConnectionIsLoggedAndNothingRuns) {
    test::WriteFile(base.DBFile, "not a database");
    const std::vector<std::string> log =
        RunThroughTheButton(Script("CREATE TABLE T (ID INTEGER);\n"));
    ASSERT_GE(log.size(), 2u);
    EXPECT_THAT(log, Not(Contains("Соединение установлено.")));
    EXPECT_THAT(log, Not(Contains("Отключение от базы данных.")));
    EXPECT_EQ(log[0], "Подключение к базе данных: " + base.DBFile + "...");
    EXPECT_THAT(log[1],
                ::testing::StartsWith("Ошибка подключения к базе данных: Moorquill.dm.DataBase:"));
    EXPECT_EQ(Outcome().text, "Ошибка подключения к базе данных.");
    EXPECT_EQ(Outcome().icon, MsgIcon::Error);
    ExpectIdle();
}

TEST_F(ScriptDialogTest, AWrongPasswordOfARealServerIsAFailedConnection) {
    test::FirebirdServer server("rightpass");
    if (!server.Running()) GTEST_SKIP() << server.Reason();
    base.DBFile = server.DatabasePath("store.fdb");
    CreateDatabase(base.DBFile, "rightpass");
    setting.SYSDBAPassword = "wrongpass";
    const std::vector<std::string> log =
        RunThroughTheButton(Script("CREATE TABLE T (ID INTEGER);\n"));
    // A path on a server cannot be probed: the question is the warning.
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Warning);
    ASSERT_GE(log.size(), 2u);
    EXPECT_THAT(log[1],
                ::testing::StartsWith("Ошибка подключения к базе данных: Moorquill.dm.DataBase:"));
    EXPECT_THAT(S(form->MemoLog->toPlainText()), HasSubstr("password"));
    EXPECT_EQ(Outcome().text, "Ошибка подключения к базе данных.");
    ExpectIdle();
}

}  // namespace
}  // namespace qm
