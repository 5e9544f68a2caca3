#pragma once

#include <chrono>
#include <functional>

#include "archiver/auto_archiver.h"
#include "archiver/event_log.h"

// The service's life as the system runs it, behind one seam: on Linux a
// systemd service (service_main_posix.cpp), on Windows a service of the
// service control manager (service_main_win.cpp).
namespace qm::archiver {

// How long a stop waits for a running archive to end once its backup was
// told to stop, before the service ends without it.
inline constexpr std::chrono::seconds kStopBound{10};

struct TStopHooks {
    std::function<void()> Stop;    // the first stop request, and every second after it
    std::function<void()> Reload;  // a request to re-read the configuration
    // The work did not end within kStopBound of the first stop request; the
    // process ends after it with kExitFailed.
    std::function<void(double)> GiveUp;
};

// Runs the work on a thread of its own while this thread waits for the
// system's stop requests (SIGTERM and SIGINT, SIGHUP to reload; on Windows
// Ctrl-C and the console's close). Returns the work's exit code.
int RunStoppable(const std::function<int()>& work, const TStopHooks& hooks);

// Runs the archiver as the system's service; its exit code.
int RunService(TAutoArchiver& archiver);

}  // namespace qm::archiver
