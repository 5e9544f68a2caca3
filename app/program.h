#pragma once

#include <functional>

namespace qm {

class TMoorquill;

// The whole program: intercepts the system's requests to end it (before any
// thread starts), makes the application with its Russian toolkit texts, the
// Qt message boxes, file dialogs and timers, the main window and its
// termination handler, runs the event loop and ends the process with
// EndProcess. prepare, when given, runs once the main window exists and
// before it is shown (tests drive the program through it). Never returns.
[[noreturn]] void RunProgram(int argc, char** argv,
                             const std::function<void(TMoorquill&)>& prepare = {});

// Ends the process with the exit code at once, after flushing the standard
// streams, without running the exit handlers and static destructors of the
// process: those of the Firebird client library unload the embedded engine
// while the engine's own threads may still be winding down a service request,
// and the process crashes. The application object and the windows are gone
// by then, every file the program writes is complete (each is replaced
// atomically when it changes) and every connection of the program closed.
[[noreturn]] void EndProcess(int exitCode);

}  // namespace qm
