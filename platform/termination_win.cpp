#include <utility>

#include "platform/termination.h"
#include "platform/win.h"

namespace qm::platform {

namespace {

std::function<void(TerminationRequest)>* g_handler = nullptr;

// The system calls this on a thread of its own, as the handler expects.
BOOL WINAPI OnConsoleControl(DWORD control) {
    if (g_handler == nullptr) return FALSE;
    switch (control) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            (*g_handler)(TerminationRequest::Interrupt);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            (*g_handler)(TerminationRequest::SessionEnd);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void InterceptTerminationRequests(std::function<void(TerminationRequest)> handler) {
    // Kept for the process's life: the system may call the handler until the
    // very end.
    g_handler = new std::function<void(TerminationRequest)>(std::move(handler));
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

}  // namespace qm::platform
