#ifdef _WIN32

// The service operations over the Windows service control manager. Each one
// opens the manager of the local machine, opens or creates the service, makes
// one call and closes its handles, the service's before the manager's.

// clang-format off
#include "platform/win.h"  // first: the system headers below need its types
#include <winsvc.h>
// clang-format on

#include <optional>
#include <string>

#include "service/service_control.h"

namespace qm {

namespace {

constexpr DWORD kManagerQueryAccess = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE;
// SC_MANAGER_ALL_ACCESS and SERVICE_ALL_ACCESS, as the registration asks for.
constexpr DWORD kManagerAllAccess = 0xF003F;
constexpr DWORD kServiceAllAccess = 0xF01FF;

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE h) : h_(h) {}
    ~ScHandle() {
        if (h_ != nullptr) ::CloseServiceHandle(h_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    SC_HANDLE h_;
};

bool HasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// The program's texts are UTF-8; they reach the manager and the registry
// through the wide calls, so that every text arrives whole whatever the
// system's code page (a Russian display name on a system set to another
// language included). A text that is not UTF-8 is refused.
using platform::WideFromValidUtf8;

// The manager and one service of it, closed in that order's reverse. A name
// that is not UTF-8 names no service.
struct TOpened {
    TOpened(DWORD managerAccess, const std::string& serviceName, DWORD serviceAccess)
        : scm(::OpenSCManagerW(nullptr, nullptr, managerAccess)),
          svc(Open(serviceName, serviceAccess)) {}
    explicit operator bool() const { return static_cast<bool>(svc); }
    SC_HANDLE get() const { return svc.get(); }

    ScHandle scm;
    ScHandle svc;

private:
    SC_HANDLE Open(const std::string& serviceName, DWORD access) const {
        const std::optional<std::wstring> name = WideFromValidUtf8(serviceName);
        if (!scm || !name) return nullptr;
        return ::OpenServiceW(scm.get(), name->c_str(), access);
    }
};

}  // namespace

bool ServiceExists(const std::string& serviceName) {
    return static_cast<bool>(TOpened(kManagerQueryAccess, serviceName, SERVICE_QUERY_CONFIG));
}

bool ServiceStart(const std::string& serviceName) {
    TOpened svc(kManagerQueryAccess, serviceName, SERVICE_START);
    return svc && ::StartServiceW(svc.get(), 0, nullptr) != 0;
}

bool ServiceStop(const std::string& serviceName) {
    TOpened svc(kManagerQueryAccess, serviceName, SERVICE_STOP);
    if (!svc) return false;
    ::SERVICE_STATUS discarded{};
    return ::ControlService(svc.get(), SERVICE_CONTROL_STOP, &discarded) != 0;
}

void ServiceGetStatus(const std::string& serviceName, SERVICE_STATUS& status) {
    status = SERVICE_STATUS{};
    TOpened svc(kManagerQueryAccess, serviceName, SERVICE_QUERY_STATUS);
    if (!svc) return;
    ::SERVICE_STATUS s{};
    if (::QueryServiceStatus(svc.get(), &s) == 0) return;
    if (s.dwCurrentState < kServiceStopped || s.dwCurrentState > kServicePaused) return;
    status.dwServiceType = s.dwServiceType;
    status.dwCurrentState = s.dwCurrentState;
    status.dwControlsAccepted = s.dwControlsAccepted;
    status.dwWin32ExitCode = s.dwWin32ExitCode;
    status.dwServiceSpecificExitCode = s.dwServiceSpecificExitCode;
    status.dwCheckPoint = s.dwCheckPoint;
    status.dwWaitHint = s.dwWaitHint;
}

bool ServiceInstall(const std::string& serviceName, const std::string& displayName,
                    const std::string& executablePath, const std::string& description) {
    // A quote in the path could not be told from the ones around it.
    if (serviceName.empty() || executablePath.empty() ||
        executablePath.find('"') != std::string::npos || HasControl(serviceName) ||
        HasControl(executablePath) || HasControl(displayName))
        return false;
    const std::optional<std::wstring> name = WideFromValidUtf8(serviceName);
    const std::optional<std::wstring> display = WideFromValidUtf8(displayName);
    const std::optional<std::wstring> path = WideFromValidUtf8(executablePath);
    const std::optional<std::wstring> text = WideFromValidUtf8(description);
    if (!name || !display || !path || !text) return false;
    // Unquoted, the manager would split a path with a blank and first try to
    // run its leading part as the program, or one planted there.
    const std::wstring commandLine =
        path->find(L' ') == std::wstring::npos ? *path : L"\"" + *path + L"\"";

    ScHandle scm(::OpenSCManagerW(nullptr, nullptr, kManagerAllAccess));
    if (!scm) return false;
    {
        ScHandle svc(::CreateServiceW(scm.get(), name->c_str(), display->c_str(), kServiceAllAccess,
                                      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                      SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                                      nullptr, nullptr, nullptr));
        if (!svc) return false;
    }
    // The description goes straight into the service's registry key; when the
    // key cannot be opened the service stays installed without it.
    const std::wstring keyName = L"System\\CurrentControlSet\\Services\\" + *name;
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        ::RegSetValueExW(key, L"Description", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(text->c_str()),
                         static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
    return true;
}

bool ServiceUninstall(const std::string& serviceName) {
    TOpened svc(kManagerAllAccess, serviceName, DELETE);
    return svc && ::DeleteService(svc.get()) != 0;
}

}  // namespace qm

#endif  // _WIN32
