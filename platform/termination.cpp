#include "platform/termination.h"

#include <pthread.h>
#include <signal.h>

#include <thread>
#include <utility>

namespace qm::platform {

namespace {

// The signals that ask the process to end. Blocked in every thread, they stay
// pending until the watcher takes them: no handler of a library ever runs.
sigset_t TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

sigset_t g_originalMask;

// A forked child gets the mask back before it runs another program.
void RestoreMaskInChild() { pthread_sigmask(SIG_SETMASK, &g_originalMask, nullptr); }

}  // namespace

void InterceptTerminationRequests(std::function<void(TerminationRequest)> handler) {
    const sigset_t set = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, &g_originalMask);
    pthread_atfork(nullptr, nullptr, &RestoreMaskInChild);
    std::thread([set, handler = std::move(handler)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0) continue;
            handler(signal == SIGINT ? TerminationRequest::Interrupt
                                     : TerminationRequest::SessionEnd);
        }
    }).detach();
}

bool SetChildSignalDefaults(posix_spawnattr_t* attr) {
    sigset_t none;
    sigemptyset(&none);
    const sigset_t handled = TerminationSignals();
    return posix_spawnattr_setsigmask(attr, &none) == 0 &&
           posix_spawnattr_setsigdefault(attr, &handled) == 0 &&
           posix_spawnattr_setflags(attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
}

}  // namespace qm::platform
