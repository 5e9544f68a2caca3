#ifdef _WIN32

// The service under the Windows service control manager: the service main
// registers the control handler and reports every state the service passes
// through (start pending, running, pause pending, paused, continue pending,
// stop pending, stopped). Started outside the manager (from a console), the
// same work runs until Ctrl-C.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "archiver/service_main.h"
#include "service/archiver_service.h"

namespace qm::archiver {

namespace {

TAutoArchiver* g_archiver = nullptr;
SERVICE_STATUS_HANDLE g_handle = nullptr;
std::mutex g_statusLock;
SERVICE_STATUS g_status{};
HANDLE g_finished = nullptr;  // set when the archiver's Run has returned
std::atomic<int> g_rc{kExitFailed};
std::atomic<bool> g_stopping{false};

void Report(DWORD state, DWORD waitHintMs = 0) {
    std::lock_guard<std::mutex> g(g_statusLock);
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
    g_status.dwControlsAccepted =
        (state == SERVICE_RUNNING || state == SERVICE_PAUSED)
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PAUSE_CONTINUE
            : 0;
    g_status.dwCheckPoint = pending ? g_status.dwCheckPoint + 1 : 0;
    g_status.dwWaitHint = waitHintMs;
    if (state == SERVICE_STOPPED) {
        const int rc = g_rc;
        g_status.dwWin32ExitCode = rc == kExitOk ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
        g_status.dwServiceSpecificExitCode = static_cast<DWORD>(rc);
    }
    if (g_handle != nullptr) ::SetServiceStatus(g_handle, &g_status);
}

DWORD CurrentState() {
    std::lock_guard<std::mutex> g(g_statusLock);
    return g_status.dwCurrentState;
}

// Stops the archiver, repeating the stop of its backup every second, and
// ends the process without it when it does not end within the bound.
void StopAndWait() {
    if (g_stopping.exchange(true)) return;
    std::thread([] {
        const auto started = std::chrono::steady_clock::now();
        const DWORD hint = static_cast<DWORD>((kStopBound.count() + 5) * 1000);
        for (;;) {
            Report(SERVICE_STOP_PENDING, hint);
            g_archiver->Stop();
            if (::WaitForSingleObject(g_finished, 1000) == WAIT_OBJECT_0) return;
            const double waited =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (waited >= static_cast<double>(kStopBound.count())) {
                g_archiver->GiveUp(waited);
                g_rc = kExitFailed;
                Report(SERVICE_STOPPED);
                ::ExitProcess(kExitFailed);
            }
        }
    }).detach();
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            StopAndWait();
            return NO_ERROR;
        case SERVICE_CONTROL_PAUSE:
            Report(SERVICE_PAUSE_PENDING, 2000);
            g_archiver->SetPaused(true);
            Report(SERVICE_PAUSED);
            return NO_ERROR;
        case SERVICE_CONTROL_CONTINUE:
            Report(SERVICE_CONTINUE_PENDING, 2000);
            g_archiver->SetPaused(false);
            Report(SERVICE_RUNNING);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            Report(CurrentState());
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    g_handle = ::RegisterServiceCtrlHandlerExA(kServiceName, Handler, nullptr);
    if (g_handle == nullptr) return;
    Report(SERVICE_START_PENDING, 30000);
    g_archiver->OnReady = [] { Report(SERVICE_RUNNING); };
    g_rc = g_archiver->Run();
    ::SetEvent(g_finished);
    Report(SERVICE_STOPPED);
}

HANDLE g_consoleStop = nullptr;

BOOL WINAPI ConsoleHandler(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT ||
        type == CTRL_SHUTDOWN_EVENT) {
        ::SetEvent(g_consoleStop);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int RunStoppable(const std::function<int()>& work, const TStopHooks& hooks) {
    g_consoleStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(ConsoleHandler, TRUE);
    std::atomic<int> rc{kExitFailed};
    std::thread worker([&] {
        rc = work();
        ::SetEvent(done);
    });
    HANDLE both[2] = {done, g_consoleStop};
    if (::WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0) {
        const auto started = std::chrono::steady_clock::now();
        for (;;) {
            if (hooks.Stop) hooks.Stop();
            if (::WaitForSingleObject(done, 1000) == WAIT_OBJECT_0) break;
            const double waited =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (waited >= static_cast<double>(kStopBound.count())) {
                if (hooks.GiveUp) hooks.GiveUp(waited);
                std::fflush(nullptr);
                ::ExitProcess(kExitFailed);
            }
        }
    }
    worker.join();
    ::SetConsoleCtrlHandler(ConsoleHandler, FALSE);
    ::CloseHandle(done);
    ::CloseHandle(g_consoleStop);
    return rc;
}

int RunService(TAutoArchiver& archiver) {
    g_archiver = &archiver;
    g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<LPSTR>(kServiceName), ServiceMain},
                                    {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherA(table)) return g_rc;
    if (::GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return kExitFailed;
    // Not started by the service control manager: the same work in this console.
    TStopHooks hooks;
    hooks.Stop = [&] { archiver.Stop(); };
    hooks.GiveUp = [&](double waited) { archiver.GiveUp(waited); };
    return RunStoppable([&] { return archiver.Run(); }, hooks);
}

}  // namespace qm::archiver

#endif  // _WIN32
