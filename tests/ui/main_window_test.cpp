#include "ui/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <functional>

#include "operations/ui/operation_dialog.h"
#include "platform/paths.h"
#include "tests/support/scripted_interaction.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using test::ReadFile;
using test::WriteFile;

std::string Section(int n, const std::string& description, const std::string& file, bool active) {
    return "[" + std::to_string(n) + "]\nActive=" + (active ? "1" : "0") +
           "\nDiscription=" + description + "\nDBFile=" + file +
           "\nArcDir=/arc/\nDoZIP=0\nArcArcFileCountDir=20\nMon=1\nTue=1\nWed=1\nThu=1\nFri=1\n"
           "Sat=0\nSun=0\nBackupTime0=13:30\n";
}

class MainWindowTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_THAT(test::VisibleTopLevels(), IsEmpty()); }

    std::string ListFile() const { return dir.File("Quillmoor.bse"); }
    void WriteThree() {
        WriteFile(ListFile(), Section(0, "Склад", "/data/store.fdb", true) +
                                  Section(1, "Касса", "/data/cash.fdb", false) +
                                  Section(2, "Кадры", "/data/staff.fdb", true));
    }
    static QTreeWidget* List(TMoorquill& w) { return w.findChild<QTreeWidget*>("lvBase"); }
    static void Trigger(TMoorquill& w, const char* action) {
        QAction* a = w.findChild<QAction*>(action);
        ASSERT_NE(a, nullptr) << action;
        a->trigger();
    }
    static std::vector<std::string> Captions(QTreeWidget* lv) {
        std::vector<std::string> out;
        for (int i = 0; i < lv->topLevelItemCount(); ++i)
            out.push_back(lv->topLevelItem(i)->text(0).toStdString());
        return out;
    }

    test::TempDir dir;
    test::ScopedDataDir dataDir{dir.Path()};
    test::ScriptedMessageBoxes boxes;
    test::ScriptedFileDialogs dialogs;
};

TEST_F(MainWindowTest, ShowsTheRegisterWithCheckBoxesInFileOrder) {
    WriteThree();
    TMoorquill w;
    QTreeWidget* lv = List(w);
    EXPECT_THAT(Captions(lv), ElementsAre("Склад", "Касса", "Кадры"));
    EXPECT_EQ(lv->topLevelItem(1)->text(1).toStdString(), "/data/cash.fdb");
    EXPECT_EQ(lv->topLevelItem(0)->checkState(0), Qt::Checked);
    EXPECT_EQ(lv->topLevelItem(1)->checkState(0), Qt::Unchecked);
    for (std::size_t i = 0; i < w.BaseList().Count(); ++i)
        EXPECT_EQ(w.BaseList()[i]->Number, static_cast<int>(i));
    EXPECT_EQ(w.windowTitle().toStdString(), "Архиватор Firebird");
}

TEST_F(MainWindowTest, WithoutListFileTheListIsEmptyAndNothingIsWritten) {
    TMoorquill w;
    EXPECT_EQ(List(w)->topLevelItemCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(ListFile()));
    EXPECT_FALSE(std::filesystem::exists(dir.File("Quillmoor.srv")));
}

TEST_F(MainWindowTest, TickingTheSelectedItemWritesOnlyThatRecord) {
    WriteThree();
    TMoorquill w;
    QTreeWidget* lv = List(w);
    lv->topLevelItem(1)->setSelected(true);

    const std::string before = ReadFile(ListFile());
    w.lvBaseClick();  // nothing changed: nothing written
    EXPECT_EQ(ReadFile(ListFile()), before);

    lv->topLevelItem(1)->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(w.BaseList()[1]->Active);
    TFirebirdBaseList reread(true);
    ASSERT_EQ(reread.Count(), 3u);
    EXPECT_TRUE(reread[1]->Active);

    // An item that is not selected is neither compared nor written.
    lv->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_TRUE(w.BaseList()[0]->Active);
    EXPECT_TRUE(TFirebirdBaseList(true)[0]->Active);
}

TEST_F(MainWindowTest, RemovingTheMiddleRecordRenumbersTheRest) {
    WriteThree();
    TMoorquill w;
    List(w)->topLevelItem(1)->setSelected(true);
    boxes.Answer(mbYes);
    Trigger(w, "pmDelBase");

    ASSERT_EQ(boxes.shown.size(), 1u);
    const MessageRequest& q = boxes.shown[0].request;
    EXPECT_EQ(q.text, "Удалить зарегистрированную базу \"Касса\"?");
    EXPECT_EQ(q.icon, MsgIcon::Question);
    EXPECT_EQ(q.buttons, unsigned(mbYes | mbNo));
    EXPECT_EQ(q.defaultButton, mbNo);

    EXPECT_THAT(Captions(List(w)), ElementsAre("Склад", "Кадры"));
    TFirebirdBaseList reread(true);
    ASSERT_EQ(reread.Count(), 2u);
    EXPECT_EQ(reread[1]->Description, "Кадры");
    EXPECT_EQ(reread[1]->Number, 1);
    EXPECT_EQ(ReadFile(ListFile()).find("[2]"), std::string::npos);
}

TEST_F(MainWindowTest, RemovalNeedsYes) {
    WriteThree();
    TMoorquill w;
    List(w)->topLevelItem(0)->setSelected(true);
    const std::string before = ReadFile(ListFile());
    boxes.Answer(mbNo);
    Trigger(w, "mmDelBase");
    EXPECT_EQ(List(w)->topLevelItemCount(), 3);
    EXPECT_EQ(ReadFile(ListFile()), before);
}

TEST_F(MainWindowTest, RemovingTheOnlyRecordLeavesNoListFile) {
    WriteFile(ListFile(), Section(0, "Склад", "/data/store.fdb", true));
    TMoorquill w;
    List(w)->topLevelItem(0)->setSelected(true);
    boxes.Answer(mbYes);
    Trigger(w, "pmDelBase");
    EXPECT_EQ(List(w)->topLevelItemCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(ListFile()));
}

TEST_F(MainWindowTest, RemovalWithTheListFileGoneWarnsAndKeepsTheItem) {
    WriteThree();
    TMoorquill w;
    std::filesystem::remove(ListFile());
    List(w)->topLevelItem(2)->setSelected(true);
    boxes.Answer(mbYes);
    Trigger(w, "pmDelBase");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].request.text, "Нет доступа к файлу конфигурации: Quillmoor.bse");
    EXPECT_EQ(boxes.shown[1].request.icon, MsgIcon::Warning);
    EXPECT_EQ(List(w)->topLevelItemCount(), 3);
    EXPECT_FALSE(std::filesystem::exists(ListFile()));
}

TEST_F(MainWindowTest, CommandsThatNeedASelectionWarn) {
    WriteThree();
    TMoorquill w;
    const std::pair<const char*, const char*> cases[] = {
        {"pmEditBase", "Выделите базу для редактирования."},
        {"mmEditBase", "Выделите базу для редактирования."},
        {"pmDelBase", "Выделите базу для удаления."},
        {"pmBackupBase", "Выделите базу для архивации."},
        {"mmBackupBase", "Выделите базу для архивации."},
        {"pmValidationBase", "Выделите базу для проверки."},
        {"pmOptimizationBase", "Выделите базу для оптимизации."},
        {"pmScriptBase", "Выделите базу для выполнения скрипта."},
        {"mmScriptBase", "Выделите базу для выполнения скрипта."},
    };
    for (const auto& [action, text] : cases) {
        boxes.shown.clear();
        Trigger(w, action);
        ASSERT_EQ(boxes.shown.size(), 1u) << action;
        EXPECT_EQ(boxes.shown[0].request.title, "Архиватор Firebird");
        EXPECT_EQ(boxes.shown[0].request.text, text) << action;
        EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Warning);
        EXPECT_EQ(boxes.shown[0].request.buttons, unsigned(mbOK));
    }
}

TEST_F(MainWindowTest, OperationCommandsOpenTheirDialogs) {
    WriteThree();
    TMoorquill w;
    auto opened = [&](const char* action) {
        std::string name;
        test::WhenModal([&](QWidget* dlg) {
            name = dlg->objectName().toStdString();
            dlg->close();
        });
        Trigger(w, action);
        return name;
    };
    // The restore needs no selection.
    EXPECT_EQ(opened("pmRestoreBase"), "frmRestoreBase");
    EXPECT_THAT(boxes.shown, IsEmpty());

    List(w)->topLevelItem(0)->setSelected(true);
    const std::pair<const char*, const char*> cases[] = {
        {"pmEditBase", "frmBase"},
        {"mmAddBase", "frmBase"},
        {"pmBackupBase", "frmBackupBase"},
        {"mmRestoreBase", "frmRestoreBase"},
        {"pmValidationBase", "frmValidationBase"},
        {"pmOptimizationBase", "frmOptimizationBase"},
        {"mmScriptBase", "frmScriptBase"},
        {"pmSetting", "frmSetting"},
    };
    for (const auto& [action, dialog] : cases) EXPECT_EQ(opened(action), dialog) << action;
    EXPECT_THAT(boxes.shown, IsEmpty());
    EXPECT_EQ(List(w)->topLevelItemCount(), 3);
}

std::vector<std::string> MenuTexts(const QMenu* menu) {
    std::vector<std::string> out;
    for (QAction* a : menu->actions())
        out.push_back(a->isSeparator() ? "-" : a->objectName().toStdString() + " " + a->text().toStdString());
    return out;
}

TEST_F(MainWindowTest, MenusHoldEveryCommandInOrder) {
    TMoorquill w;
    auto* mmBase = w.findChild<QMenu*>("mmBase");
    ASSERT_NE(mmBase, nullptr);
    EXPECT_EQ(mmBase->title().toStdString(), "Бзаз данных");
    EXPECT_THAT(MenuTexts(mmBase),
                ElementsAre("mmAddBase Зарегистрировать базу данных",
                            "mmEditBase Редактировать базу данных",
                            "mmDelBase Удалить зарегистрированную базу", "-",
                            "mmBackupBase Архивация базы данных",
                            "mmRestoreBase Востановить базу данных из архива",
                            "mmValidationBase Проверка базы данных на ошибки",
                            "mmOptimizationBase Оптимизация работы базы данных",
                            "mmScriptBase Выполнить скрипт для базы данных", "-",
                            "mmSetting Настройки сервера Firebird", "-", "mmExit Выход"));
    auto* ppmBase = w.findChild<QMenu*>("ppmBase");
    ASSERT_NE(ppmBase, nullptr);
    EXPECT_THAT(MenuTexts(ppmBase),
                ElementsAre("pmAddBase Зарегистрировать новую базу данных",
                            "pmEditBase Редактировать базу данных",
                            "pmDelBase Удалить зарегистрированную базу", "-",
                            "pmBackupBase Архивация базы данных",
                            "pmRestoreBase Востановить базу данных из архива",
                            "pmValidationBase Проверка базы данных на ошибки",
                            "pmOptimizationBase Оптимизация работы базы данных",
                            "pmScriptBase Выполнить скрипт для базы данных", "-",
                            "pmSetting Настройки сервера Firebird"));
    auto* mmService = w.findChild<QMenu*>("mmService");
    ASSERT_NE(mmService, nullptr);
    EXPECT_EQ(mmService->title().toStdString(), "Служба");
    EXPECT_THAT(MenuTexts(mmService),
                ElementsAre("mmInstallService Установить службу автоархивации",
                            "mmUninstallService Удалить службу автоархивации", "-",
                            "mmStartService Запустить службу автоархивации",
                            "mmStopService Остановить службу автоархивации", "-",
                            "mmRefreshService Обновить журнал и статус службы"));
}

TEST_F(MainWindowTest, StatusBarShowsTheBuildVersion) {
    TMoorquill w;
    w.show();
    auto* panel = w.findChild<QLabel*>("StatusPanel0");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->text().toStdString(), " версия : " + TMoorquill::GetVersionText(platform::ExecutablePath()));
    EXPECT_THAT(TMoorquill::GetVersionText(platform::ExecutablePath()),
                ::testing::MatchesRegex("[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+"));
    EXPECT_EQ(TMoorquill::GetVersionText(ListFile()), "0.0.0.0");
    EXPECT_EQ(w.findChild<QLabel*>("StatusPanel1")->text().toStdString(), TMoorquill::kMakerAddress);
    // Which server serves: no server answers in the tests.
    auto* server = w.findChild<QLabel*>("StatusPanel2");
    ASSERT_NE(server, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !server->text().isEmpty(); }, 10000));
    EXPECT_EQ(server->text().toStdString(), " Встроенный сервер Firebird");
    EXPECT_NE(server->toolTip().toStdString().find("127.0.0.1/1 не отвечает"), std::string::npos);
    boxes.Answer(mbYes);
    w.close();
}

TEST_F(MainWindowTest, LeftoversOfAnInterruptedRunAreOfferedForRemovalAtStart) {
    WriteFile(ListFile(), Section(0, "Склад", dir.File("store.fdb"), true));
    WriteFile(dir.File("store.fdb"), "db");
    WriteFile(dir.File("store.fdb.restore-0a1b2c3d"), "half a restore");
    for (MsgButton answer : {mbNo, mbYes}) {
        boxes.shown.clear();
        boxes.Answer(answer);
        TMoorquill w;
        w.show();
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].request.text,
                  "Найдены файлы, оставшиеся от прерванного восстановления или оптимизации базы "
                  "данных:\n" +
                      dir.File("store.fdb.restore-0a1b2c3d") + "\nУдалить их?");
        EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Warning);
        EXPECT_EQ(std::filesystem::exists(dir.File("store.fdb.restore-0a1b2c3d")), answer == mbNo);
        boxes.Answer(mbYes);
        w.close();
    }
    EXPECT_EQ(ReadFile(dir.File("store.fdb")), "db");
}

TEST(ServerStatusText, EachAnswerOfTheProbe) {
    std::string tip;
    TServerProbe probe;
    probe.Asked = "localhost";
    EXPECT_EQ(TMoorquill::ServerStatusText(probe, &tip), "Встроенный сервер Firebird");
    probe.Error = "Can't load library x";
    EXPECT_EQ(TMoorquill::ServerStatusText(probe, &tip), "Клиентская библиотека Firebird не загружена");
    EXPECT_EQ(tip, "Can't load library x");
    probe.Route = TServerRoute::Server("localhost");
    EXPECT_EQ(TMoorquill::ServerStatusText(probe, &tip), "Сервер Firebird localhost: ошибка подключения");
    probe.Error.clear();
    probe.Version = "LI-V3.0.11.33637 Firebird 3.0";
    EXPECT_EQ(TMoorquill::ServerStatusText(probe, &tip),
              "Сервер Firebird localhost: LI-V3.0.11.33637 Firebird 3.0");
}

TEST_F(MainWindowTest, AFailedWriteReachesTheTopLevelHandler) {
    WriteThree();
    TMoorquill w;
    // The list file's place is taken by a directory: it can be read as empty
    // by nobody and written by nobody, root included.
    std::filesystem::remove(ListFile());
    std::filesystem::create_directory(ListFile());
    List(w)->topLevelItem(1)->setSelected(true);
    List(w)->topLevelItem(1)->setCheckState(0, Qt::Checked);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.title, "Архиватор Firebird");
    EXPECT_EQ(boxes.shown[0].request.text, "Unable to write to " + ListFile() + ".");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
    EXPECT_EQ(boxes.shown[0].request.buttons, unsigned(mbOK));
    EXPECT_TRUE(w.BaseList()[1]->Active);  // the change in memory stays
}

TEST(TopLevelErrorText, AppendsAFullStopAfterACharacterAboveIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"Unable to write to /x/Quillmoor.bse", "Unable to write to /x/Quillmoor.bse."},
        {"Done.", "Done."},
        {"Why?", "Why?."},  // '?' lies above '.'
        {"ends with -", "ends with -"},
        {"ends with )", "ends with )"},
        {"Ошибка", "Ошибка."},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(TopLevelErrorText(in), out) << in;
}

TEST_F(MainWindowTest, ClosingAsksAndNeedsYes) {
    TMoorquill w;
    w.show();
    boxes.Answer(mbNo);
    w.close();
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.text,
              "Служба автоархивации баз данных Firebird не запущенна. Завершить программу всё равно?");
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Warning);
    EXPECT_EQ(boxes.shown[0].request.defaultButton, mbYes);
    boxes.Answer(mbYes);
    Trigger(w, "mmExit");
    EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindowTest, SpaceTogglesTheCurrentDatabaseInAnyColumn) {
    WriteThree();
    TMoorquill w;
    QTreeWidget* lv = List(w);
    w.show();
    lv->setFocus();
    // The focus mark on the file column, as after a click on the path.
    lv->setCurrentIndex(lv->model()->index(1, 1));
    ASSERT_TRUE(lv->topLevelItem(1)->isSelected());
    QTest::keyClick(lv, Qt::Key_Space);
    EXPECT_EQ(lv->topLevelItem(1)->checkState(0), Qt::Checked);
    EXPECT_TRUE(TFirebirdBaseList(true)[1]->Active);
    lv->setCurrentIndex(lv->model()->index(1, 0));
    QTest::keyClick(lv, Qt::Key_Space);
    EXPECT_EQ(lv->topLevelItem(1)->checkState(0), Qt::Unchecked);
    EXPECT_FALSE(TFirebirdBaseList(true)[1]->Active);
    boxes.Answer(mbYes);
    w.close();
}

// An operation dialog whose operation writes a line, lets the test act while
// it runs, and writes another.
class TfrmTestOperation final : public TOperationDialog {
public:
    TfrmTestOperation(TFirebirdBase& base, Tdm& dm, QWidget* owner)
        : TOperationDialog(&base, dm, owner, "frmTestOperation", "Операция", "Начать") {
        auto* layout = new QVBoxLayout(this);
        AddLogAndButtons(layout, NamedLabel("lblLog", "Журнал :"), 21);
        SetTabOrder({});
    }
    void btnOkClick() override {
        RunOperation("Выполняется операция...", [this](ILogView* log) {
            Tdm::AddLog("начало", log);
            during();
            Tdm::AddLog("конец", log);
            return true;
        });
        finished = true;
    }
    std::function<void()> during;
    bool finished = false;
};

TEST_F(MainWindowTest, NeitherTheDialogNorTheWindowClosesWhileAnOperationRuns) {
    WriteThree();
    TMoorquill w;
    w.show();
    TfrmTestOperation d(*w.BaseList()[0], w.dm(), &w);
    bool closedWhileModal = true, dialogGone = true, windowGone = true;
    d.during = [&] {
        // As the window manager would, while the user-interface thread is busy.
        QCoreApplication::postEvent(&d, new QCloseEvent);
        QCoreApplication::postEvent(&w, new QCloseEvent);
        QCoreApplication::postEvent(&d, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        d.reject();
        w.close();
        QApplication::processEvents();
        dialogGone = !d.isVisible();
        windowGone = !w.isVisible();
    };
    QTimer step;
    step.setInterval(10);
    QObject::connect(&step, &QTimer::timeout, &d, [&] {
        if (!d.isVisible()) return;
        if (!d.finished && d.isEnabled()) {
            // The dialog is open but idle: the window still refuses to close
            // under it.
            w.close();
            closedWhileModal = !w.isVisible();
            d.btnOk->click();
        } else if (d.finished) {
            d.reject();
        }
    });
    step.start();
    d.exec();

    EXPECT_TRUE(d.finished);
    EXPECT_FALSE(closedWhileModal);
    EXPECT_FALSE(dialogGone);
    EXPECT_FALSE(windowGone);
    // The close query was never asked, and the data module is the one the
    // operation used.
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(d.MemoLog->toPlainText().count('\n'), 1);
    EXPECT_EQ(w.BaseList().Count(), 3u);
    boxes.Answer(mbYes);
    w.close();
    EXPECT_FALSE(w.isVisible());
}

}  // namespace
}  // namespace qm
