#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// Idle timers of connections and transactions. They must fire on the
// user-interface thread, between its other work, so the layer only defines the
// interface: the program installs a factory over its event loop at start-up;
// until then (and in headless use) timers never fire.
namespace qm {

// A repeating timer. Not thread-safe: created, driven and destroyed on the
// user-interface thread, where its tick also runs.
class ITimer {
public:
    virtual ~ITimer() = default;
    // Starts (or restarts) counting: the tick runs every intervalMs
    // milliseconds, the first one intervalMs after this call, until Stop.
    virtual void Start(std::uint32_t intervalMs) = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;
};

class ITimerFactory {
public:
    virtual ~ITimerFactory() = default;
    // A stopped timer that calls onTick on every tick. The tick may raise;
    // the error then reaches the event loop's top-level handler.
    virtual std::unique_ptr<ITimer> CreateTimer(std::function<void()> onTick) = 0;
};

// The installed factory; a factory whose timers never fire when none is
// installed. InstallTimerFactory(nullptr) restores that default. The factory
// must outlive the timers it made.
ITimerFactory& TimerFactory();
void InstallTimerFactory(ITimerFactory* factory);

}  // namespace qm
