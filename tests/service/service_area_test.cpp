#include "service/ui/service_area.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QWidget>

#include "archiver/event_log.h"
#include "platform/paths.h"
#include "platform/platform.h"
#include "service/archiver_service.h"
#include "tests/service/fake_systemd.h"
#include "tests/support/scripted_interaction.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const char* const kCaption = "Архиватор Firebird";
const QColor kMaroon(128, 0, 0);
const QColor kGreen(0, 128, 0);

std::vector<std::string> MenuTexts(QMenu* menu) {
    std::vector<std::string> out;
    for (QAction* a : menu->actions())
        out.push_back(
            a->isSeparator() ? "-" : a->objectName().toStdString() + " " + a->text().toStdString());
    return out;
}

class ServiceAreaTest : public ::testing::Test {
protected:
    ServiceAreaTest() : dataDir(data.Path()), area(&window) {
        window.setObjectName("Moorquill");
        window.setWindowTitle(kCaption);
        mmService = new QMenu(&window);
        area.FillServiceMenu(mmService);
    }
    ~ServiceAreaTest() override { EXPECT_THAT(test::VisibleTopLevels(), IsEmpty()); }

    std::string Status() const { return area.lblServiceStatus->text().toStdString(); }
    QColor Colour() const { return area.lblServiceStatus->palette().color(QPalette::WindowText); }
    std::string Log() const { return area.MemoLog->toPlainText().toStdString(); }
    std::string LogFile() const { return data.File("Quillmoor.log"); }

    // Enabled state of install, uninstall, start, stop in both menus; the two
    // must agree.
    std::string Enabled() const {
        QAction* pm[] = {area.pmInstallService, area.pmUninstallService, area.pmStartService,
                         area.pmStopService, area.pmRefreshService};
        QAction* mm[] = {area.mmInstallService, area.mmUninstallService, area.mmStartService,
                         area.mmStopService, area.mmRefreshService};
        std::string out;
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(pm[i]->isEnabled(), mm[i]->isEnabled()) << pm[i]->objectName().toStdString();
            out += pm[i]->isEnabled() ? '1' : '0';
        }
        return out;
    }

    test::FakeSystemd sd;
    test::TempDir data;
    test::ScopedDataDir dataDir;
    test::ScriptedMessageBoxes boxes;
    QWidget window;
    TServiceArea area;
    QMenu* mmService;
};

TEST_F(ServiceAreaTest, MenusCarryTheCommandsInOrder) {
    EXPECT_THAT(MenuTexts(area.ppmService),
                ElementsAre("pmInstallService Установить службу автоархивации",
                            "pmUninstallService Удалить службу автоархивации", "-",
                            "pmStartService Запустить службу автоархивации",
                            "pmStopService Остановить службу автоархивации", "-",
                            "pmRefreshService Обновить журнал и статус службы"));
    EXPECT_THAT(MenuTexts(mmService),
                ElementsAre("mmInstallService Установить службу автоархивации",
                            "mmUninstallService Удалить службу автоархивации", "-",
                            "mmStartService Запустить службу автоархивации",
                            "mmStopService Остановить службу автоархивации", "-",
                            "mmRefreshService Обновить журнал и статус службы"));
    EXPECT_EQ(area.MemoLog->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_TRUE(area.MemoLog->isReadOnly());
    EXPECT_EQ(Status(), "Статус службы автоархивации неизвестен");
    EXPECT_EQ(Colour(), kMaroon);
}

// Each state: its text and colour, and which of install, uninstall, start,
// stop and refresh are enabled.
TEST_F(ServiceAreaTest, EveryStateShowsItsTextColourAndCommands) {
    struct Row {
        const char* active;  // nullptr: not installed
        const char* freezer;
        const char* text;
        QColor colour;
        const char* enabled;
    } rows[] = {
        {nullptr, "running", "Служба автоархивации не установлена", kMaroon, "10001"},
        {"inactive", "running", "Служба автоархивации остановлена", kMaroon, "01101"},
        {"activating", "running", "Служба автоархивации запускается...", kMaroon, "00101"},
        {"deactivating", "running", "Служба автоархивации останавливается...", kMaroon, "00101"},
        {"active", "running", "Служба автоархивации работает", kGreen, "00011"},
        {"active", "thawing", "SERVICE_CONTINUE_PENDING", kMaroon, "00101"},
        {"active", "freezing", "SERVICE_PAUSE_PENDING", kMaroon, "00101"},
        {"active", "frozen", "Пауза", kMaroon, "00101"},
        // Installed, but the state cannot be named.
        {"maintenance", "running", "Статус службы автоархивации неизвестен", kMaroon, "00101"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        if (r.active == nullptr)
            sd.SetUnit(false, "inactive");
        else
            sd.SetUnit(true, r.active, "start", r.freezer);
        area.RefreshServiceStatus();
        EXPECT_EQ(Status(), r.text);
        EXPECT_EQ(Colour(), r.colour);
        EXPECT_EQ(Enabled(), r.enabled);
    }
    EXPECT_THAT(boxes.shown, IsEmpty());
}

TEST_F(ServiceAreaTest, InstallRegistersTheProgramsServiceExecutable) {
    area.pmInstallService->trigger();
    ASSERT_EQ(boxes.shown.size(), 1u);
    const MessageRequest& box = boxes.shown[0].request;
    EXPECT_EQ(box.title, kCaption);
    EXPECT_EQ(box.text, "Служба автоархивации установлена.");
    EXPECT_EQ(box.icon, MsgIcon::Information);
    EXPECT_EQ(box.buttons, unsigned(mbOK));

    const std::string unit = test::ReadFile(sd.UnitFile());
    EXPECT_THAT(unit, HasSubstr("Description=Автоархиватор Firebird\n"));
    EXPECT_THAT(unit, HasSubstr("# Служба для автоматической архивации баз данных Firebird - "));
    EXPECT_THAT(unit, HasSubstr("ExecStart=\"" + platform::ExecutableDir() +
                                platform::kServiceExecutable + "\"\n"));
    // The view is refreshed after the box.
    EXPECT_EQ(Status(), "Служба автоархивации остановлена");
    EXPECT_EQ(Enabled(), "01101");
}

// Each command: its box on success and on refusal, then a refresh.
TEST_F(ServiceAreaTest, CommandsReportTheirOutcomeAndRefresh) {
    struct Row {
        QAction* TServiceArea::*item;
        const char* before;  // ActiveState before; nullptr: not installed
        const char* deny;
        bool ok;
        const char* text;
        const char* statusAfter;
    } rows[] = {
        {&TServiceArea::mmInstallService, nullptr, "", true, "Служба автоархивации установлена.",
         "Служба автоархивации остановлена"},
        {&TServiceArea::mmInstallService, nullptr, "daemon-reload\n", false,
         "Невозможно установить службу. Возможно у вас нет прав администратора.",
         "Служба автоархивации не установлена"},
        {&TServiceArea::mmUninstallService, "inactive", "", true, "Служба автоархивации удалена.",
         "Служба автоархивации не установлена"},
        {&TServiceArea::mmUninstallService, "inactive", "disable\n", false,
         "Невозможно удалить службу. Возможно у вас нет прав администратора.",
         "Служба автоархивации остановлена"},
        {&TServiceArea::mmStartService, "inactive", "", true, "Служба автоархивации запущена.",
         "Служба автоархивации работает"},
        {&TServiceArea::mmStartService, "inactive", "start\n", false,
         "Невозможно запустить службу. Возможно у вас нет прав администратора.",
         "Служба автоархивации остановлена"},
        {&TServiceArea::mmStopService, "active", "", true, "Служба автоархивации остановлена.",
         "Служба автоархивации остановлена"},
        {&TServiceArea::mmStopService, "active", "stop\n", false,
         "Невозможно остановить службу. Возможно у вас нет прав администратора.",
         "Служба автоархивации работает"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        std::remove(sd.UnitFile().c_str());
        if (r.before == nullptr)
            sd.SetUnit(false, "inactive");
        else
            sd.Install(r.before, "running");
        sd.Deny(r.deny);
        boxes.shown.clear();
        area.RefreshServiceStatus();
        QAction* item = area.*(r.item);
        ASSERT_TRUE(item->isEnabled());
        item->trigger();
        ASSERT_EQ(boxes.shown.size(), 1u);
        const MessageRequest& box = boxes.shown[0].request;
        EXPECT_EQ(box.title, kCaption);
        EXPECT_EQ(box.text, r.text);
        EXPECT_EQ(box.icon, r.ok ? MsgIcon::Information : MsgIcon::Error);
        EXPECT_EQ(box.buttons, unsigned(mbOK));
        EXPECT_EQ(Status(), r.statusAfter);
    }
}

// The view is refreshed once, at once: a pending start stays on screen.
TEST_F(ServiceAreaTest, StartPendingStaysUntilTheUserRefreshes) {
    sd.Install();
    sd.StartLeaves("activating start");
    area.RefreshServiceStatus();
    area.pmStartService->trigger();
    EXPECT_EQ(Status(), "Служба автоархивации запускается...");
    EXPECT_EQ(Enabled(), "00101");

    sd.SetUnit(true, "active", "running");
    QPoint inside(2, 2);
    QMouseEvent release(QEvent::MouseButtonRelease, inside,
                        area.lblServiceInfo->mapToGlobal(inside), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(area.lblServiceInfo, &release);
    EXPECT_EQ(Status(), "Служба автоархивации работает");
    EXPECT_EQ(Enabled(), "00011");
}

TEST_F(ServiceAreaTest, CloseQueryAsksByState) {
    struct Row {
        const char* active;  // nullptr: not installed
        MsgButton answer;    // mbNone: the default button
        bool closes;
    } rows[] = {
        {"active", mbNone, false}, {"active", mbYes, true}, {"inactive", mbNone, true},
        {"inactive", mbNo, false}, {nullptr, mbNone, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.active ? r.active : "not installed") + " " +
                     std::to_string(r.answer));
        if (r.active == nullptr)
            sd.SetUnit(false, "inactive");
        else
            sd.SetUnit(true, r.active, "running");
        boxes.shown.clear();
        if (r.answer != mbNone) boxes.Answer(r.answer);
        EXPECT_EQ(area.FormCloseQuery(), r.closes);
        ASSERT_EQ(boxes.shown.size(), 1u);
        const MessageRequest& box = boxes.shown[0].request;
        EXPECT_EQ(box.title, kCaption);
        EXPECT_EQ(box.buttons, unsigned(mbYes | mbNo));
        if (r.active != nullptr && std::string(r.active) == "active") {
            EXPECT_EQ(box.text, "Завершить программу?");
            EXPECT_EQ(box.icon, MsgIcon::Question);
            EXPECT_EQ(box.defaultButton, mbNo);
        } else {
            EXPECT_EQ(box.text,
                      "Служба автоархивации баз данных Firebird не запущенна. Завершить программу "
                      "всё равно?");
            EXPECT_EQ(box.icon, MsgIcon::Warning);
            EXPECT_EQ(box.defaultButton, mbYes);
        }
    }
}

TEST_F(ServiceAreaTest, LogShowsTheFilesLinesScrolledToTheEnd) {
    std::string content;
    for (int i = 1; i <= 300; ++i) content += "строка " + std::to_string(i) + "\r\n";
    content += "последняя\n";
    test::WriteFile(LogFile(), content);
    area.pmRefreshService->trigger();
    std::string expected;
    for (int i = 1; i <= 300; ++i) expected += "строка " + std::to_string(i) + "\n";
    expected += "последняя";
    EXPECT_EQ(Log(), expected);
    EXPECT_TRUE(area.MemoLog->textCursor().atEnd());

    // Mixed line ends, an empty last line kept, no line break at the end.
    test::WriteFile(LogFile(), "a\rb\n\nc\r\n\r\n");
    area.RefreshServiceStatus();
    EXPECT_EQ(Log(), "a\nb\n\nc\n");
    test::WriteFile(LogFile(), "one line");
    area.RefreshServiceStatus();
    EXPECT_EQ(Log(), "one line");
}

// The lines as the service writes them, rotation included, are the lines the
// view shows.
TEST_F(ServiceAreaTest, TheViewShowsTheLinesTheServiceWrites) {
    archiver::TEventLog log(ServiceLogPath(), nullptr, 600);
    log.Write("Служба автоархивации запущена. Баз в списке: 2, активных: 1.");
    log.Write("BackupService:\nI/O error during \"open\" operation\n-No such file");
    area.RefreshServiceStatus();
    const auto lines = QString::fromStdString(Log()).split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith(" > Служба автоархивации запущена. Баз в списке: 2, активных: 1."));
    EXPECT_TRUE(lines[3].endsWith(" > -No such file"));
    for (const QString& l : lines) EXPECT_EQ(l.indexOf(" > "), 19) << l.toStdString();
    for (int i = 0; i < 20; ++i) log.Write("строка " + std::to_string(i));
    area.RefreshServiceStatus();
    EXPECT_TRUE(QString::fromStdString(Log()).endsWith(" > строка 19"));
    EXPECT_LT(Log().size(), 700u);
}

TEST_F(ServiceAreaTest, MissingOrLockedLogLeavesTheViewEmptySilently) {
    test::WriteFile(LogFile(), "old\n");
    area.RefreshServiceStatus();
    ASSERT_EQ(Log(), "old");

    std::remove(LogFile().c_str());
    sd.Install("active", "running");
    area.RefreshServiceStatus();
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(Status(), "Служба автоархивации работает");

    // The service writes under an exclusive lock.
    test::WriteFile(LogFile(), "being written\n");
    int fd = ::open(LogFile().c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    area.RefreshServiceStatus();
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(Status(), "Служба автоархивации работает");
    ::close(fd);
    area.RefreshServiceStatus();
    EXPECT_EQ(Log(), "being written");

    EXPECT_THAT(boxes.shown, IsEmpty());
}

}  // namespace
}  // namespace qm
