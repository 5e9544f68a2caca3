#include "operations/ui/wait_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "operations/ui/qt_interaction.h"
#include "tests/support/scripted_interaction.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// Waits, without processing any event, until cond holds or a generous bound
// has passed; the user-interface thread stays as busy as a server call keeps it.
bool WaitBlocked(const std::function<bool()>& cond) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Processes events until cond holds or a generous bound has passed.
bool WaitServed(const std::function<bool()>& cond) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

int WaitForms() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("WaitForm")) ++n;
    return n;
}

class WaitWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        mainWindow.setObjectName(QStringLiteral("Moorquill"));
        mainWindow.setGeometry(100, 100, 800, 600);
        mainWindow.show();
        dialog = std::make_unique<QDialog>(&mainWindow);
        dialog->setObjectName(QStringLiteral("frmBackupBase"));
        button = new QPushButton(QStringLiteral("Архивировать"), dialog.get());
        button->setObjectName(QStringLiteral("btnOk"));
        dialog->show();
    }
    void TearDown() override {
        HideWait();
        dialog.reset();
        mainWindow.hide();
        QApplication::processEvents();
        EXPECT_EQ(WaitForms(), 0);
        EXPECT_EQ(test::VisibleTopLevels(), std::vector<std::string>{});
    }

    QMainWindow mainWindow;
    std::unique_ptr<QDialog> dialog;
    QPushButton* button = nullptr;
};

TEST_F(WaitWindowTest, ShowWaitDisablesTheFormAndShowsTheWindowCentredOverTheMainWindow) {
    ShowWait(dialog.get(), "Выполняется архивация базы данных...");

    ASSERT_NE(WaitThread(), nullptr);
    TWaitForm* wait = WaitThread()->WaitForm();
    ASSERT_NE(wait, nullptr);
    EXPECT_EQ(WaitThread()->OwnerForm(), dialog.get());
    EXPECT_EQ(WaitForms(), 1);
    EXPECT_TRUE(wait->isVisible());
    EXPECT_TRUE(wait->isEnabled());
    EXPECT_TRUE(wait->isWindow());
    EXPECT_EQ(wait->windowTitle().toStdString(), "Ожидайте");
    EXPECT_EQ(wait->lblInfo->text().toStdString(), "Выполняется архивация базы данных...");
    EXPECT_EQ(wait->size(), QSize(379, 73));
    EXPECT_EQ(wait->lblInfo->pos(), QPoint(56, 24));
    EXPECT_EQ(wait->AnimatedImage->geometry(), QRect(8, 16, 32, 32));
    EXPECT_TRUE(wait->AnimatedImage->Active());

    const Qt::WindowFlags flags = wait->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    for (Qt::WindowType icon : {Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint,
                                Qt::WindowMaximizeButtonHint, Qt::WindowCloseButtonHint})
        EXPECT_FALSE(flags & icon) << icon;

    const QPoint offset = wait->frameGeometry().center() - mainWindow.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 4);

    EXPECT_FALSE(dialog->isEnabled());
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(clicked.count(), 0);

    HideWait();
    EXPECT_TRUE(dialog->isEnabled());
    EXPECT_EQ(WaitThread(), nullptr);
    EXPECT_EQ(WaitForms(), 0);
}

TEST_F(WaitWindowTest, HideWaitReturnsWhileTheThreadWaitsForItsRequest) {
    ShowWait(dialog.get(), "Выполняется проверка базы данных...");
    TWaitThread* thread = WaitThread();
    const int served = thread->WaitForm()->UpdateCount();

    // The user-interface thread is busy as in a long server call.
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(WaitBlocked([&] { return thread->RequestPending(); }));
    EXPECT_EQ(thread->WaitForm()->UpdateCount(), served);

    HideWait();
    EXPECT_EQ(WaitThread(), nullptr);
    EXPECT_TRUE(dialog->isEnabled());
    EXPECT_EQ(WaitForms(), 0);

    // The request left in the queue must find nothing to touch.
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_TRUE(dialog->isEnabled());
}

TEST_F(WaitWindowTest, HideWaitWithoutAWindowDoesNothing) {
    HideWait();
    EXPECT_EQ(WaitThread(), nullptr);
    EXPECT_TRUE(dialog->isEnabled());

    ShowWait(dialog.get(), "x");
    HideWait();
    dialog->setEnabled(false);
    HideWait();
    EXPECT_FALSE(dialog->isEnabled());
    EXPECT_EQ(WaitForms(), 0);
}

TEST_F(WaitWindowTest, TheWindowRefusesToClose) {
    ShowWait(dialog.get(), "Выполняется оптимизация базы данных...");
    TWaitForm* wait = WaitThread()->WaitForm();

    EXPECT_FALSE(wait->close());
    QCloseEvent event;
    QApplication::sendEvent(wait, &event);
    EXPECT_FALSE(event.isAccepted());
    QApplication::processEvents();
    EXPECT_TRUE(wait->isVisible());
    EXPECT_EQ(WaitForms(), 1);
}

TEST_F(WaitWindowTest, TheEventPumpServesTheThreadAndTheAnimation) {
    ShowWait(dialog.get(), "Выполняется скрипт...");
    TWaitThread* thread = WaitThread();
    TWaitForm* wait = thread->WaitForm();

    std::this_thread::sleep_for(150ms);
    ASSERT_TRUE(WaitBlocked([&] { return thread->RequestPending(); }));
    const int served = wait->UpdateCount();
    QtEventPump().ProcessEvents();
    EXPECT_GT(wait->UpdateCount(), served);

    // The thread goes on asking after each served request.
    const int again = wait->UpdateCount();
    EXPECT_TRUE(WaitServed([&] { return wait->UpdateCount() > again; }));

    const int frame = wait->AnimatedImage->Frame();
    EXPECT_TRUE(WaitServed([&] { return wait->AnimatedImage->Frame() != frame; }));
}

// Whatever the caller did to its form around the wait is left as it was.
TEST_F(WaitWindowTest, HideWaitRestoresOnlyWhatShowWaitChanged) {
    dialog->setEnabled(false);
    ShowWait(dialog.get(), "x");
    HideWait();
    EXPECT_FALSE(dialog->isEnabled());
    dialog->setEnabled(true);

    ShowWait(dialog.get(), "x");
    dialog.reset();
    HideWait();
    EXPECT_EQ(WaitForms(), 0);

    ShowWait(nullptr, "x");
    EXPECT_EQ(WaitForms(), 1);
    HideWait();
    EXPECT_EQ(WaitForms(), 0);
}

TEST_F(WaitWindowTest, ASecondShowWaitReplacesTheFirstWindow) {
    QDialog other(&mainWindow);
    other.show();
    ShowWait(dialog.get(), "first");
    ShowWait(&other, "second");

    EXPECT_EQ(WaitForms(), 1);
    EXPECT_TRUE(dialog->isEnabled());
    EXPECT_FALSE(other.isEnabled());
    EXPECT_EQ(WaitThread()->WaitForm()->lblInfo->text().toStdString(), "second");

    HideWait();
    EXPECT_TRUE(other.isEnabled());
    other.hide();
}

}  // namespace
}  // namespace qm
