#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "firebird/timer.h"
#include "tests/support/firebird_db.h"
#include "tests/support/temp_dir.h"

namespace qm::test {

// The path of a stand-in client library built beside the tests
// (fakes/fake_client.cpp), e.g. FakeClient("v5").
std::string FakeClient(const std::string& variant);

// A small event loop for the idle timers: installed as the timer factory for
// its lifetime; RunUntil runs due ticks on the calling thread, sleeping in
// between, until the condition holds or the bound passes.
class TestTimerLoop final : public ITimerFactory {
public:
    TestTimerLoop();
    ~TestTimerLoop() override;
    std::unique_ptr<ITimer> CreateTimer(std::function<void()> onTick) override;
    // True when the condition came to hold within the bound.
    bool RunUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound);

    struct Entry;

private:
    std::vector<Entry*> timers_;
    friend class TestTimer;
};

// A fixture with a temporary folder for database files.
class EmbeddedFixture {
protected:
    std::string DbPath(const std::string& name = "test.fdb") const { return dir_.File(name); }
    TempDir dir_;
};

}  // namespace qm::test
