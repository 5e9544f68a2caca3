#pragma once

#include <functional>

#ifndef _WIN32
#include <spawn.h>
#endif

namespace qm::platform {

// What the system asks when it wants the process to end.
enum class TerminationRequest {
    Interrupt,   // the user, at the terminal (Ctrl+C)
    SessionEnd,  // the session ends or the system stops the program
};

// Takes the system's requests to end the process away from their default
// action (ending it on the spot) and from every library's handlers (the
// embedded Firebird engine shuts itself down on them), and hands each request
// to `handler` instead, called on a thread of its own. Call once, first thing
// in main, before any thread starts: threads started later inherit the
// arrangement. Child processes start with the system's defaults again.
// On Linux: SIGINT is Interrupt; SIGTERM and SIGHUP are SessionEnd. On
// Windows: Ctrl+C and Ctrl+Break are Interrupt; the console's closing, the
// user's logging off and the system's shutting down are SessionEnd (the
// system ends the process when the handler returns from one of these).
void InterceptTerminationRequests(std::function<void(TerminationRequest)> handler);

#ifndef _WIN32
// Sets up attr (initialised by the caller) so that a child made by
// posix_spawn with it starts with the signal mask and default actions of a
// process that intercepts nothing. False when the system refused.
bool SetChildSignalDefaults(posix_spawnattr_t* attr);
#endif

}  // namespace qm::platform
