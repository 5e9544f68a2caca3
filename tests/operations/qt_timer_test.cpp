#include "operations/ui/qt_timer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "firebird/database.h"
#include "firebird/query.h"
#include "firebird/transaction.h"
#include "tests/support/firebird_db.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

// Runs the Qt event loop until the condition holds or the bound passes.
bool SpinUntil(const std::function<bool()>& condition, int boundMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > boundMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

class QtTimers : public ::testing::Test {
protected:
    void SetUp() override { InstallTimerFactory(&factory_); }
    void TearDown() override { InstallTimerFactory(nullptr); }
    QtTimerFactory factory_;
};

TEST_F(QtTimers, IdleTransactionEndsAfterOneToTwoSecondsUnderTheEventLoop) {
    test::TempDir dir;
    test::CreateTestDatabase(dir.File("idle.fdb"), 3, "");
    const auto owned = test::OpenTestDatabase(dir.File("idle.fdb"));
    TFbDatabase& db = *owned;

    TFbTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.TimeoutAction = TARollback;
    tr.SetTimeout(1000);
    int timeouts = 0;
    tr.OnTimeout = [&] { ++timeouts; };
    tr.StartTransaction();
    TFbQuery q;
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    q.SetSqlText({"SELECT 1 FROM RDB$DATABASE"});
    q.ExecuteQuery();

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(SpinUntil([&] { return !tr.Active(); }, 10000));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(timeouts, 1);
    // The connection's own transaction has its one-second timeout as well.
    EXPECT_EQ(db.InternalTransaction().Timeout(), 1000u);
}

TEST_F(QtTimers, TimerRemovedFromItsOwnTickIsSafe) {
    std::unique_ptr<ITimer> timer;
    int ticks = 0;
    timer = factory_.CreateTimer([&] {
        ++ticks;
        timer.reset();
    });
    timer->Start(10);
    ASSERT_TRUE(SpinUntil([&] { return timer == nullptr; }, 5000));
    SpinUntil([] { return false; }, 100);
    EXPECT_EQ(ticks, 1);
}

TEST_F(QtTimers, TimerStartedOnAnotherThreadTicksOnTheApplicationThread) {
    std::atomic<QThread*> tickThread{nullptr};
    std::unique_ptr<ITimer> timer;
    std::thread worker([&] {
        timer = factory_.CreateTimer([&] { tickThread = QThread::currentThread(); });
        timer->Start(10);
    });
    worker.join();
    ASSERT_TRUE(SpinUntil([&] { return tickThread.load() != nullptr; }, 5000));
    EXPECT_EQ(tickThread.load(), QCoreApplication::instance()->thread());
    timer->Stop();
    EXPECT_FALSE(timer->IsActive());
    timer.reset();
}

}  // namespace
}  // namespace qm
