#ifdef _WIN32

// The service under the Windows service control manager: the service main
// registers the control handler and reports every state the service passes
// through (start pending, running, pause pending, paused, continue pending,
// stop pending, stopped). Started outside the manager (from a console), the
// same work runs until Ctrl-C.

#include <windows.h>
// The process list; it takes its types from windows.h.
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "archiver/service_main.h"
#include "service/archiver_service.h"

namespace qm::archiver {

namespace {

TAutoArchiver* g_archiver = nullptr;
SERVICE_STATUS_HANDLE g_handle = nullptr;
std::mutex g_statusLock;
::SERVICE_STATUS g_status{};
// Once the manager was told that the service stopped, it hears nothing more:
// a late report of the stop's thread would bring the service back to life.
bool g_reportedStopped = false;
std::mutex g_stopThreadLock;  // the handler may run on a thread of its own
std::thread g_stopThread;
HANDLE g_finished = nullptr;  // set when the archiver's Run has returned
std::atomic<int> g_rc{kExitFailed};
std::atomic<bool> g_stopping{false};

void Report(DWORD state, DWORD waitHintMs = 0) {
    std::lock_guard<std::mutex> g(g_statusLock);
    if (g_reportedStopped) return;
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
        g_reportedStopped = true;
    }
    if (g_handle != nullptr) ::SetServiceStatus(g_handle, &g_status);
}

DWORD CurrentState() {
    std::lock_guard<std::mutex> g(g_statusLock);
    return g_status.dwCurrentState;
}

// Stops the archiver, repeating the stop of its backup every second, and
// ends the process without it when it does not end within the bound. The
// control handler must answer at once, so the waiting is a thread's, which
// the service's end joins before the archiver goes away.
void StopAndWait() {
    if (g_stopping.exchange(true)) return;
    std::lock_guard<std::mutex> g(g_stopThreadLock);
    g_stopThread = std::thread([] {
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
    });
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

// The manager passes the name the service was installed under first; a
// service of its own process may be installed under any name.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
    const char* name = argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : kServiceName;
    g_handle = ::RegisterServiceCtrlHandlerExA(name, Handler, nullptr);
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

// Whether the process was started by someone other than the service control
// manager, whose program is services.exe and which outlives the services it
// starts. Wine's dispatcher, called outside the manager, waits for it instead
// of failing as Windows' does, so a program run from a console asks first.
// False when the system cannot tell, and then the dispatcher decides.
bool StartedOutsideManager() {
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    // The list does not keep a parent ahead of its children: first the
    // parent's number, then its program.
    std::vector<PROCESSENTRY32W> all;
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    for (BOOL more = ::Process32FirstW(snap, &e); more; more = ::Process32NextW(snap, &e))
        all.push_back(e);
    ::CloseHandle(snap);
    const DWORD self = ::GetCurrentProcessId();
    auto find = [&](DWORD id) -> const PROCESSENTRY32W* {
        for (const PROCESSENTRY32W& p : all)
            if (p.th32ProcessID == id) return &p;
        return nullptr;
    };
    const PROCESSENTRY32W* me = find(self);
    if (me == nullptr) return false;
    const PROCESSENTRY32W* parent = find(me->th32ParentProcessID);
    return parent == nullptr || ::lstrcmpiW(parent->szExeFile, L"services.exe") != 0;
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
    if (!StartedOutsideManager()) {
        if (::StartServiceCtrlDispatcherA(table)) {
            std::lock_guard<std::mutex> g(g_stopThreadLock);
            if (g_stopThread.joinable()) g_stopThread.join();
            return g_rc;
        }
        if (::GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return kExitFailed;
    }
    // Not started by the service control manager: the same work in this console.
    TStopHooks hooks;
    hooks.Stop = [&] { archiver.Stop(); };
    hooks.GiveUp = [&](double waited) { archiver.GiveUp(waited); };
    return RunStoppable([&] { return archiver.Run(); }, hooks);
}

}  // namespace qm::archiver

#endif  // _WIN32
