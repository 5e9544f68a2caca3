#include "operations/ui/qt_timer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>

namespace qm {

namespace {

class QtTimer final : public ITimer {
public:
    explicit QtTimer(std::function<void()> onTick)
        : onTick_(std::make_shared<std::function<void()>>(std::move(onTick))) {
        timer_ = new QTimer;
        if (QCoreApplication::instance() != nullptr)
            timer_->moveToThread(QCoreApplication::instance()->thread());
        auto tick = onTick_;
        auto inTick = inTick_;
        QObject::connect(timer_, &QTimer::timeout, timer_, [tick, inTick] {
            *inTick = true;
            struct Reset {
                std::shared_ptr<bool> flag;
                ~Reset() { *flag = false; }
            } reset{inTick};
            if (*tick) (*tick)();
        });
    }

    ~QtTimer() override {
        QTimer* t = timer_;
        t->disconnect();
        *onTick_ = nullptr;
        // A timer that ends itself from its own tick is deleted once the
        // tick has returned; on its own thread outside a tick, at once.
        if (*inTick_ || QThread::currentThread() != t->thread()) {
            QMetaObject::invokeMethod(
                t, [t] { t->stop(); }, Qt::QueuedConnection);
            t->deleteLater();
        } else {
            delete t;
        }
    }

    void Start(std::uint32_t intervalMs) override {
        active_ = true;
        const int ms = static_cast<int>(std::min<std::uint32_t>(intervalMs, INT32_MAX));
        Run([t = timer_, ms] { t->start(ms); });
    }

    void Stop() override {
        active_ = false;
        Run([t = timer_] { t->stop(); });
    }

    bool IsActive() const override { return active_; }

private:
    template <class F>
    void Run(F f) {
        if (QThread::currentThread() == timer_->thread()) {
            f();
        } else {
            QMetaObject::invokeMethod(timer_, f, Qt::QueuedConnection);
        }
    }

    QTimer* timer_ = nullptr;
    std::shared_ptr<std::function<void()>> onTick_;
    std::shared_ptr<bool> inTick_ = std::make_shared<bool>(false);
    std::atomic<bool> active_{false};
};

}  // namespace

std::unique_ptr<ITimer> QtTimerFactory::CreateTimer(std::function<void()> onTick) {
    return std::make_unique<QtTimer>(std::move(onTick));
}

void InstallQtTimers() {
    static QtTimerFactory factory;
    InstallTimerFactory(&factory);
}

}  // namespace qm
