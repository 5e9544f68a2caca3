#include "ui/base_editor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <memory>

#include "firebird/database.h"
#include "operations/ui/file_name_edit.h"
#include "operations/ui/qt_interaction.h"
#include "tests/support/firebird_db.h"
#include "tests/support/scripted_interaction.h"
#include "tests/support/temp_dir.h"
#include "ui/main_window.h"

namespace qm {
namespace {

using test::ReadFile;
using test::WriteFile;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr const char* kRegisterCaption = "Зарегистрировать базу данных";

class BaseEditorTest : public ::testing::Test {
protected:
    BaseEditorTest() { std::filesystem::create_directory(ArcDir()); }
    ~BaseEditorTest() override {
        form.reset();
        window.reset();
        EXPECT_THAT(test::VisibleTopLevels(), IsEmpty());
    }

    std::string ListFile() const { return dir.File("Quillmoor.bse"); }
    std::string ArcDir() const { return dir.File("arc/"); }

    // A database file the embedded engine made.
    std::string CreateDatabase(const std::string& name) {
        const std::string path = dir.File(name);
        test::CreateTestDatabase(path, 3, "");
        return path;
    }

    TMoorquill& Window() {
        if (!window) window = std::make_unique<TMoorquill>();
        return *window;
    }
    QTreeWidget* List() { return Window().findChild<QTreeWidget*>("lvBase"); }

    // The editor as the register command opens it, for a new record.
    TfrmBase& Register() {
        record = std::make_unique<TFirebirdBase>();
        form = std::make_unique<TfrmBase>(Window(), Window().dm(), Window().Setting(), &Window());
        form->Base = record.get();
        form->IsEdit = false;
        form->setWindowTitle(QString::fromUtf8(kRegisterCaption));
        Show();
        return *form;
    }
    // The editor as the edit command opens it, for the item at row.
    TfrmBase& Edit(int row) {
        List()->topLevelItem(row)->setSelected(true);
        TFirebirdBase* base = Window().SelectedBase();
        form = std::make_unique<TfrmBase>(Window(), Window().dm(), Window().Setting(), &Window());
        form->Base = base;
        form->IsEdit = true;
        form->setWindowTitle(Q("Редактировать базу данных: " + base->Description));
        form->BaseToControls();
        Show();
        return *form;
    }
    void Show() {
        form->show();
        form->activateWindow();
        QApplication::processEvents();
    }
    void Fill(TfrmBase& f, const std::string& description, const std::string& dbFile) {
        f.edDiscription->setText(Q(description));
        f.edBaseFile->SetName(dbFile);
        f.edBackupDir->SetName(ArcDir());
    }

    test::TempDir dir;
    test::ScopedDataDir dataDir{dir.Path()};
    test::ScriptedMessageBoxes boxes;
    test::ScriptedFileDialogs dialogs;
    std::unique_ptr<TMoorquill> window;
    std::unique_ptr<TFirebirdBase> record;
    std::unique_ptr<TfrmBase> form;
};

TEST_F(BaseEditorTest, RegisteringOpensWithTheInitialValues) {
    TfrmBase& f = Register();
    EXPECT_EQ(f.objectName(), "frmBase");
    EXPECT_EQ(f.size(), QSize(582, 443));
    EXPECT_EQ(f.edDiscription->text(), "");
    EXPECT_EQ(f.edBaseFile->Name(), "");
    EXPECT_EQ(f.edBackupDir->Name(), "");
    EXPECT_FALSE(f.cbActive->isChecked());
    EXPECT_FALSE(f.cbDoZIP->isChecked());
    EXPECT_EQ(f.seBackupFileCount->value(), 20);
    EXPECT_EQ(f.seBackupFileCount->minimum(), 0);
    EXPECT_EQ(f.seBackupFileCount->maximum(), 1000);
    EXPECT_EQ(S(f.seBackupFileCount->toolTip()), "0 - бесконечное количество архивов");
    std::vector<std::string> days;
    for (QCheckBox* cb : {f.cbMon, f.cbTue, f.cbWed, f.cbThu, f.cbFri, f.cbSat, f.cbSun})
        days.push_back(S(cb->text()) + (cb->isChecked() ? "+" : "-"));
    EXPECT_THAT(days, ElementsAre("Пн+", "Вт+", "Ср+", "Чт+", "Пт+", "Сб-", "Вс-"));
    EXPECT_THAT(f.Times(), ElementsAre("13:30", "23:00"));
    EXPECT_EQ(f.dtpBackupTime->time(), QTime(0, 0));
    EXPECT_EQ(f.dtpBackupTime->displayFormat(), "HH:mm");
    EXPECT_EQ(S(f.findChild<QGroupBox*>("gbBase")->title()), " База данных ");
    EXPECT_EQ(S(f.findChild<QGroupBox*>("gbAutoArc")->title()), " Параметры автоархивации ");
    EXPECT_EQ(S(f.cbActive->text()), "Применять к базе автоматическую архивацию");
    EXPECT_EQ(S(f.cbDoZIP->text()), "Сжимать созданный файл архива в ZIP после архивации");
    EXPECT_EQ(S(f.btnSetting->text()), "Настройки Firebird");
    EXPECT_EQ(S(f.btnOk->text()), "Сохранить");
    EXPECT_TRUE(f.btnOk->isDefault());
    EXPECT_EQ(S(f.btnCancel->text()), "Отмена");
    EXPECT_EQ(S(f.sbtnAddTime->toolTip()), "Добавить время архивации");
    EXPECT_EQ(S(f.sbtnDelTime->toolTip()), "Удалить выбранное время архивации");

    // The tab order, read from the focus chain.
    const std::vector<std::string> order = {"edDiscription", "edBaseFile", "cbActive",
                                            "edBackupDir",   "cbDoZIP",    "seBackupFileCount",
                                            "cbMon",         "cbTue",      "cbWed",
                                            "cbThu",         "cbFri",      "cbSat",
                                            "cbSun",         "lbTime",     "dtpBackupTime",
                                            "btnSetting",    "btnOk",      "btnCancel"};
    std::vector<std::string> chain;
    QWidget* w = f.edDiscription;
    do {
        const std::string name = S(w->objectName());
        if (std::find(order.begin(), order.end(), name) != order.end() &&
            std::find(chain.begin(), chain.end(), name) == chain.end())
            chain.push_back(name);
        w = w->nextInFocusChain();
    } while (w != f.edDiscription);
    EXPECT_EQ(chain, order);
}

TEST_F(BaseEditorTest, FileNameEditsTakeNoTypingAndTheDescriptionTakes32Characters) {
    TFirebirdBase base;
    base.Description = std::string(40, 'D');
    base.DBFile = "/data/store.fdb";
    base.ArcDir = "/arc/";
    TfrmBase& f = Register();
    f.Base = &base;
    f.BaseToControls();
    for (TFileNameEdit* e : {f.edBaseFile, f.edBackupDir}) {
        const QString before = e->text();
        QTest::keyClicks(e, "xyz");
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keySequence(e, QKeySequence::Paste);
        EXPECT_EQ(e->text(), before) << S(e->objectName());
    }
    // A longer description read from the list file is shown whole; typing
    // can only shorten it.
    EXPECT_EQ(f.edDiscription->text(), QString(40, 'D'));
    f.edDiscription->setFocus();
    f.edDiscription->end(false);
    QTest::keyClick(f.edDiscription, Qt::Key_Backspace);
    QTest::keyClicks(f.edDiscription, "x");
    EXPECT_EQ(f.edDiscription->text(), QString(39, 'D'));
    f.edDiscription->clear();
    QTest::keyClicks(f.edDiscription, QString(40, 'a'));
    EXPECT_EQ(f.edDiscription->text(), QString(32, 'a'));
}

TEST_F(BaseEditorTest, APasteIsCutToWhatFitsAndItsLineBreaksBecomeBlanks) {
    const std::string db = CreateDatabase("store.fdb");
    TfrmBase& f = Register();
    Fill(f, "", db);
    f.edDiscription->setFocus();
    auto paste = [&](const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keySequence(f.edDiscription, QKeySequence::Paste);
    };
    // Into the middle: the pasted text is cut, what was there stays.
    QTest::keyClicks(f.edDiscription, "[]");
    QTest::keyClick(f.edDiscription, Qt::Key_Left);
    paste(QString(40, QChar(0x0416)));
    EXPECT_EQ(f.edDiscription->text(), "[" + QString(30, QChar(0x0416)) + "]");
    EXPECT_EQ(f.edDiscription->cursorPosition(), 31);
    // Over a selection.
    f.edDiscription->setSelection(1, 30);
    paste(QStringLiteral("Склад"));
    EXPECT_EQ(f.edDiscription->text(), "[Склад]");

    // Two lines copied from a log view make one description.
    f.edDiscription->clear();
    paste(QStringLiteral("Склад\r\nосновной\n"));
    f.btnOk->click();
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown[0].request.text;
    EXPECT_EQ(f.result(), QDialog::Accepted);
    EXPECT_EQ(record->Description, "Склад основной");
    EXPECT_EQ(TFirebirdBaseList(true)[0]->Description, "Склад основной");
    Window().AdoptBase(std::move(record));
}

TEST_F(BaseEditorTest, TimesStayAscendingAndRefuseDuplicates) {
    TfrmBase& f = Register();
    f.dtpBackupTime->setTime(QTime(13, 30));
    f.sbtnAddTime->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.title, kRegisterCaption);
    EXPECT_EQ(boxes.shown[0].request.text, "Такое время архивации уже существует в списке.");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Warning);
    EXPECT_EQ(boxes.shown[0].request.buttons, unsigned{mbOK});
    EXPECT_THAT(f.Times(), ElementsAre("13:30", "23:00"));

    f.dtpBackupTime->setTime(QTime(9, 5));
    f.sbtnAddTime->click();
    f.dtpBackupTime->setTime(QTime(23, 59));
    f.sbtnAddTime->click();
    f.dtpBackupTime->setTime(QTime(14, 0));
    f.sbtnAddTime->click();
    EXPECT_THAT(f.Times(), ElementsAre("09:05", "13:30", "14:00", "23:00", "23:59"));
    EXPECT_EQ(boxes.shown.size(), 1u);

    // Removing asks for a selection first.
    f.sbtnDelTime->click();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].request.text,
              "Необходимо выбрать нужное время для удаления его из списка.");
    EXPECT_EQ(boxes.shown[1].request.icon, MsgIcon::Warning);
    f.lbTime->item(1)->setSelected(true);
    f.sbtnDelTime->click();
    EXPECT_THAT(f.Times(), ElementsAre("09:05", "14:00", "23:00", "23:59"));
    f.sbtnDelTime->click();  // nothing is selected any more
    EXPECT_EQ(boxes.shown.size(), 3u);
    EXPECT_THAT(f.Times(), ElementsAre("09:05", "14:00", "23:00", "23:59"));

    // Times of a record are sorted; duplicates stay.
    TFirebirdBase base;
    base.BackupTimes = {"23:00", "13:30", "07:00", "13:30"};
    f.Base = &base;
    f.BaseToControls();
    EXPECT_THAT(f.Times(), ElementsAre("07:00", "13:30", "13:30", "23:00"));
}

TEST_F(BaseEditorTest, RefusedInputKeepsTheDialogOpenWithTheFocusOnTheField) {
    const std::string db = CreateDatabase("store.fdb");
    struct Case {
        const char* name;
        std::string description, dbFile, arcDir;
        const char* text;
        const char* focus;
    };
    const Case cases[] = {
        {"blank description", " \t  ", db, ArcDir(), "Введите описание базы данных.",
         "edDiscription"},
        {"missing database", "Склад", dir.File("none.fdb"), ArcDir(),
         "Файл базы данных не существует.", "edBaseFile"},
        {"directory as database", "Склад", ArcDir(), ArcDir(), "Файл базы данных не существует.",
         "edBaseFile"},
        {"empty database", "Склад", "", ArcDir(), "Файл базы данных не существует.", "edBaseFile"},
        {"missing archive directory", "Склад", db, dir.File("none/"),
         "Путь для создаваемых архивов не существует.", "edBackupDir"},
        {"file as archive directory", "Склад", db, db,
         "Путь для создаваемых архивов не существует.", "edBackupDir"},
        // Names the list file cannot hold on one line, refused before it is
        // written.
        {"line break in the database name", "Склад", dir.File("a\nb.fdb"), ArcDir(),
         "Имя файла базы данных содержит перевод строки.", "edBaseFile"},
        {"line break in the archive directory", "Склад", db, dir.File("a\rb/"),
         "Путь для создаваемых архивов содержит перевод строки.", "edBackupDir"},
    };
    TfrmBase& f = Register();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        f.edDiscription->setText(Q(c.description));
        f.edBaseFile->SetName(c.dbFile);
        f.edBackupDir->SetName(c.arcDir);
        f.btnOk->setFocus();
        f.btnOk->click();
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].request.title, kRegisterCaption);
        EXPECT_EQ(boxes.shown[0].request.text, c.text);
        EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
        EXPECT_EQ(boxes.shown[0].request.buttons, unsigned{mbOK});
        EXPECT_EQ(boxes.shown[0].focusName, c.focus);
        EXPECT_TRUE(f.isVisible());
    }
    // The blanks were cut off in the edit itself.
    f.edDiscription->setText(QStringLiteral("  Склад \t"));
    f.btnOk->click();
    EXPECT_EQ(f.edDiscription->text(), QStringLiteral("Склад"));
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(ListFile()));
    EXPECT_EQ(record->Description, "");
}

TEST_F(BaseEditorTest, AFailedTestConnectionChangesNothing) {
    const std::string notDb = dir.File("notes.fdb");
    WriteFile(notDb, std::string(64 * 1024, 'x'));
    TfrmBase& f = Register();
    Fill(f, "Заметки", notDb);
    f.btnOk->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.title, "Ошибка тестового подключения");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
    EXPECT_THAT(boxes.shown[0].request.text, StartsWith("Moorquill.dm.DataBase:"));
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(record->Description, "");
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(ListFile()));
    EXPECT_FALSE(Window().dm().DataBase->Connected());
}

TEST_F(BaseEditorTest, RegisteringARealDatabaseAddsTheNextSectionAndSelectsIt) {
    WriteFile(ListFile(), "[0]\nDiscription=Касса\nDBFile=/data/cash.fdb\n");
    const std::string db = CreateDatabase("store.fdb");
    TfrmBase& f = Register();
    Fill(f, "  Склад ", db);
    f.cbActive->setChecked(true);
    f.cbDoZIP->setChecked(true);
    f.seBackupFileCount->setValue(0);
    f.cbMon->setChecked(false);
    f.cbSun->setChecked(true);
    f.dtpBackupTime->setTime(QTime(9, 5));
    f.sbtnAddTime->click();
    QTest::keyClick(f.edDiscription, Qt::Key_Return);  // Enter presses the default button

    EXPECT_EQ(f.result(), QDialog::Accepted);
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(record->Number, 1);
    EXPECT_EQ(record->Description, "Склад");
    ASSERT_EQ(List()->topLevelItemCount(), 2);
    EXPECT_EQ(Window().SelectedBase(), record.get());
    EXPECT_EQ(S(List()->topLevelItem(1)->text(0)), "Склад");
    EXPECT_EQ(List()->topLevelItem(1)->checkState(0), Qt::Checked);
    Window().AdoptBase(std::move(record));

    TFirebirdBaseList reread(true);
    ASSERT_EQ(reread.Count(), 2u);
    const TFirebirdBase& r = *reread[1];
    EXPECT_EQ(r.Description, "Склад");
    EXPECT_EQ(r.DBFile, db);
    EXPECT_EQ(r.ArcDir, ArcDir());
    EXPECT_TRUE(r.Active);
    EXPECT_TRUE(r.DoZIP);
    EXPECT_EQ(r.ArcFileCount, 0);
    EXPECT_FALSE(r.Mon);
    EXPECT_TRUE(r.Tue && r.Wed && r.Thu && r.Fri && r.Sun);
    EXPECT_FALSE(r.Sat);
    EXPECT_THAT(r.BackupTimes, ElementsAre("09:05", "13:30", "23:00"));
    EXPECT_EQ(reread[0]->Description, "Касса");
}

TEST_F(BaseEditorTest, EditingKeepsTheNumberAndRewritesOnlyThatSection) {
    const std::string db = CreateDatabase("store.fdb");
    WriteFile(ListFile(),
              "[0]\nDiscription=Касса\nDBFile=/data/cash.fdb\n"
              "[1]\nActive=1\nDiscription=Склад\nDBFile=" +
                  db + "\nArcDir=" + ArcDir() +
                  "\nArcArcFileCountDir=5\nSat=1\nBackupTime0=23:00\nBackupTime1=08:15\n");
    TfrmBase& f = Edit(1);
    EXPECT_EQ(S(f.windowTitle()), "Редактировать базу данных: Склад");
    EXPECT_EQ(f.edDiscription->text(), "Склад");
    EXPECT_EQ(f.edBaseFile->Name(), db);
    EXPECT_TRUE(f.cbActive->isChecked());
    EXPECT_EQ(f.seBackupFileCount->value(), 5);
    EXPECT_TRUE(f.cbSat->isChecked());
    EXPECT_FALSE(f.cbMon->isChecked());
    EXPECT_THAT(f.Times(), ElementsAre("08:15", "23:00"));

    f.edDiscription->setText(QStringLiteral("Склад №2"));
    f.cbActive->setChecked(false);
    f.btnOk->click();
    EXPECT_EQ(f.result(), QDialog::Accepted);
    EXPECT_EQ(Window().BaseList()[1]->Number, 1);
    EXPECT_EQ(Window().BaseList()[1]->Description, "Склад №2");
    EXPECT_EQ(S(List()->topLevelItem(1)->text(0)), "Склад №2");
    EXPECT_EQ(List()->topLevelItem(1)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(List()->topLevelItemCount(), 2);

    TFirebirdBaseList reread(true);
    ASSERT_EQ(reread.Count(), 2u);
    EXPECT_EQ(reread[1]->Description, "Склад №2");
    EXPECT_FALSE(reread[1]->Active);
    EXPECT_THAT(reread[1]->BackupTimes, ElementsAre("08:15", "23:00"));
    EXPECT_EQ(reread[0]->Description, "Касса");
}

TEST_F(BaseEditorTest, CancelLeavesRecordListAndFileAlone) {
    WriteFile(ListFile(), "[0]\nDiscription=Касса\nDBFile=/data/cash.fdb\nBackupTime0=10:00\n");
    const std::string before = ReadFile(ListFile());
    TfrmBase& f = Edit(0);
    f.edDiscription->setText(QStringLiteral("Другое"));
    f.lbTime->clear();
    QTest::keyClick(&f, Qt::Key_Escape);
    EXPECT_EQ(f.result(), QDialog::Rejected);
    EXPECT_EQ(Window().BaseList()[0]->Description, "Касса");
    EXPECT_THAT(Window().BaseList()[0]->BackupTimes, ElementsAre("10:00"));
    EXPECT_EQ(S(List()->topLevelItem(0)->text(0)), "Касса");
    EXPECT_EQ(ReadFile(ListFile()), before);
}

TEST_F(BaseEditorTest, ANewRecordThatCannotBeWrittenLeavesNoListItem) {
    // A directory where the list file belongs: every write of it fails.
    std::filesystem::create_directory(ListFile());
    const std::string db = CreateDatabase("store.fdb");
    TfrmBase& f = Register();
    Fill(f, "Склад", db);
    f.btnOk->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.title, "Архиватор Firebird");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
    EXPECT_THAT(boxes.shown[0].request.text, ::testing::HasSubstr("Quillmoor.bse"));
    EXPECT_TRUE(f.isVisible());
    EXPECT_NE(f.result(), QDialog::Accepted);
    // No item refers to the record, which the window destroys on Cancel.
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    f.btnCancel->click();
    EXPECT_EQ(f.result(), QDialog::Rejected);
}

TEST_F(BaseEditorTest, ChoosingADatabaseFileFillsAnEmptyArchiveDirectory) {
    TfrmBase& f = Register();
    dialogs.Answer(std::nullopt);
    f.edBaseFile->BrowseAction()->trigger();
    EXPECT_EQ(f.edBaseFile->Name(), "");
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].kind, FileDialogKind::Open);
    EXPECT_EQ(dialogs.requests[0].title, "Открыть базу данных");
    EXPECT_EQ(dialogs.requests[0].filter, "База Firebird (*.fdb)|*.fdb|Все файлы|*.*");

    struct Step {
        std::optional<std::string> answer;
        std::string baseFile, backupDir;
    };
    const Step steps[] = {
        {"/data/store.fdb", "/data/store.fdb", "/data/"},
        {"/other/cash.fdb", "/other/cash.fdb", "/data/"},  // a filled directory stays
        {std::nullopt, "/other/cash.fdb", "/data/"},       // cancelled: nothing changes
        {"smb://server/share/x.fdb", "", "/data/"},        // not a local path: emptied
    };
    for (const Step& s : steps) {
        dialogs.Answer(s.answer);
        f.edBaseFile->BrowseAction()->trigger();
        EXPECT_EQ(f.edBaseFile->Name(), s.baseFile);
        EXPECT_EQ(f.edBackupDir->Name(), s.backupDir);
    }

    dialogs.Answer(std::string("/srv/archives"));
    f.edBackupDir->BrowseAction()->trigger();
    EXPECT_EQ(f.edBackupDir->Name(), "/srv/archives");
    EXPECT_EQ(dialogs.requests.back().kind, FileDialogKind::Folder);
    EXPECT_EQ(dialogs.requests.back().title, "Выбор папки для хранения архивов");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(BaseEditorTest, SettingsButtonOpensTheSettingsDialogOverTheEditor) {
    TfrmBase& f = Register();
    std::string seen;
    test::WhenModal([&](QWidget* m) {
        seen = S(m->objectName()) + " over " + S(m->parentWidget()->objectName());
        m->close();
    });
    f.btnSetting->click();
    EXPECT_EQ(seen, "frmSetting over frmBase");
    EXPECT_TRUE(f.isVisible());
}

}  // namespace
}  // namespace qm
