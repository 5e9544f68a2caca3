#pragma once

#include "firebird/timer.h"

namespace qm {

// Idle timers of the access layer over QTimer. Every timer lives on the
// application's (user-interface) thread, so its tick runs there between other
// events, whichever thread created or drives it.
class QtTimerFactory final : public ITimerFactory {
public:
    std::unique_ptr<ITimer> CreateTimer(std::function<void()> onTick) override;
};

// Installs one process-wide QtTimerFactory as the layer's timer factory.
void InstallQtTimers();

}  // namespace qm
