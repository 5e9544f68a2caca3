#include "tests/firebird/fb_test_support.h"

#include <algorithm>
#include <thread>

namespace qm::test {

std::string FakeClient(const std::string& variant) {
    return std::string(QM_FAKE_CLIENT_DIR) + "libfbfake_" + variant + ".so";
}

struct TestTimerLoop::Entry {
    std::function<void()> onTick;
    bool active = false;
    std::chrono::milliseconds interval{0};
    std::chrono::steady_clock::time_point due;
};

class TestTimer final : public ITimer {
public:
    TestTimer(TestTimerLoop& loop, std::function<void()> onTick) : loop_(loop) {
        entry_.onTick = std::move(onTick);
        loop_.timers_.push_back(&entry_);
    }
    ~TestTimer() override {
        auto& list = loop_.timers_;
        list.erase(std::remove(list.begin(), list.end(), &entry_), list.end());
    }
    void Start(std::uint32_t intervalMs) override {
        entry_.active = true;
        entry_.interval = std::chrono::milliseconds(intervalMs);
        entry_.due = std::chrono::steady_clock::now() + entry_.interval;
    }
    void Stop() override { entry_.active = false; }
    bool IsActive() const override { return entry_.active; }

private:
    TestTimerLoop& loop_;
    TestTimerLoop::Entry entry_;
};

TestTimerLoop::TestTimerLoop() { InstallTimerFactory(this); }
TestTimerLoop::~TestTimerLoop() { InstallTimerFactory(nullptr); }

std::unique_ptr<ITimer> TestTimerLoop::CreateTimer(std::function<void()> onTick) {
    return std::make_unique<TestTimer>(*this, std::move(onTick));
}

bool TestTimerLoop::RunUntil(const std::function<bool()>& condition,
                             std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        // One due tick at a time: a tick may create or destroy timers.
        Entry* due = nullptr;
        for (Entry* e : timers_) {
            if (e->active && e->due <= now && (due == nullptr || e->due < due->due)) due = e;
        }
        if (due != nullptr) {
            due->due = now + due->interval;
            auto tick = due->onTick;
            tick();
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace qm::test
