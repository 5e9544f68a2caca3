#ifdef _WIN32

// The service operations over the Windows service control manager. Each one
// opens the manager of the local machine, opens or creates the service, makes
// one call and closes its handles, the service's before the manager's.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsvc.h>

#include <string>

#include "service/service_control.h"

namespace qm {

namespace {

constexpr DWORD kManagerQueryAccess = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE;

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

// The program's texts are UTF-8; the system's 8-bit calls would read them in
// the ANSI code page and garble every non-Latin letter, so the wide calls get
// them converted.
std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

bool HasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

ScHandle OpenManager(DWORD access) { return ScHandle(::OpenSCManagerW(nullptr, nullptr, access)); }

}  // namespace

bool ServiceExists(const std::string& serviceName) {
    ScHandle scm = OpenManager(kManagerQueryAccess);
    if (!scm) return false;
    ScHandle svc(::OpenServiceW(scm.get(), Wide(serviceName).c_str(), SERVICE_QUERY_CONFIG));
    return static_cast<bool>(svc);
}

bool ServiceStart(const std::string& serviceName) {
    ScHandle scm = OpenManager(kManagerQueryAccess);
    if (!scm) return false;
    ScHandle svc(::OpenServiceW(scm.get(), Wide(serviceName).c_str(), SERVICE_START));
    if (!svc) return false;
    return ::StartServiceW(svc.get(), 0, nullptr) != 0;
}

bool ServiceStop(const std::string& serviceName) {
    ScHandle scm = OpenManager(kManagerQueryAccess);
    if (!scm) return false;
    ScHandle svc(::OpenServiceW(scm.get(), Wide(serviceName).c_str(), SERVICE_STOP));
    if (!svc) return false;
    ::SERVICE_STATUS discarded{};
    return ::ControlService(svc.get(), SERVICE_CONTROL_STOP, &discarded) != 0;
}

void ServiceGetStatus(const std::string& serviceName, SERVICE_STATUS& status) {
    status = SERVICE_STATUS{};
    ScHandle scm = OpenManager(kManagerQueryAccess);
    if (!scm) return;
    ScHandle svc(::OpenServiceW(scm.get(), Wide(serviceName).c_str(), SERVICE_QUERY_STATUS));
    if (!svc) return;
    ::SERVICE_STATUS s{};
    if (::QueryServiceStatus(svc.get(), &s) == 0) return;
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
    // Unquoted, the manager would split a path with a blank and run the first
    // part as the program, or one planted there.
    if (executablePath.empty() || executablePath.find('"') != std::string::npos ||
        HasControl(executablePath) || HasControl(displayName))
        return false;
    ScHandle scm = OpenManager(SC_MANAGER_ALL_ACCESS);
    if (!scm) return false;
    const std::wstring commandLine = L"\"" + Wide(executablePath) + L"\"";
    {
        ScHandle svc(::CreateServiceW(
            scm.get(), Wide(serviceName).c_str(), Wide(displayName).c_str(), SERVICE_ALL_ACCESS,
            SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
            commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!svc) return false;
    }
    // The description goes straight into the service's registry key; when the
    // key cannot be opened the service stays installed without it.
    const std::wstring keyName = L"System\\CurrentControlSet\\Services\\" + Wide(serviceName);
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const std::wstring text = Wide(description);
        ::RegSetValueExW(key, L"Description", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
    return true;
}

bool ServiceUninstall(const std::string& serviceName) {
    ScHandle scm = OpenManager(SC_MANAGER_ALL_ACCESS);
    if (!scm) return false;
    ScHandle svc(::OpenServiceW(scm.get(), Wide(serviceName).c_str(), SERVICE_ALL_ACCESS));
    if (!svc) return false;
    return ::DeleteService(svc.get()) != 0;
}

}  // namespace qm

#endif  // _WIN32
