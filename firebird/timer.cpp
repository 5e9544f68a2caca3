#include "firebird/timer.h"

#include <atomic>

namespace qm {

namespace {

class SilentTimer final : public ITimer {
public:
    void Start(std::uint32_t) override { active_ = true; }
    void Stop() override { active_ = false; }
    bool IsActive() const override { return active_; }

private:
    bool active_ = false;
};

class SilentTimerFactory final : public ITimerFactory {
public:
    std::unique_ptr<ITimer> CreateTimer(std::function<void()>) override {
        return std::make_unique<SilentTimer>();
    }
};

SilentTimerFactory gSilent;
std::atomic<ITimerFactory*> gFactory{nullptr};

}  // namespace

ITimerFactory& TimerFactory() {
    ITimerFactory* f = gFactory.load();
    return f != nullptr ? *f : gSilent;
}

void InstallTimerFactory(ITimerFactory* factory) { gFactory.store(factory); }

}  // namespace qm
