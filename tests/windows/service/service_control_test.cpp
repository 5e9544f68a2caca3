// The six service operations against Wine's service control manager: what a
// registration writes (the manager's own record and the description in the
// service's registry key), what a refused one leaves, status, start, stop and
// removal of services that are or are not there.

#include "service/service_control.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win.h"
#include "tests/windows/service/scm_fixture.h"

namespace qm {
namespace {

using test::ServiceCleanup;
using test::UniqueServiceName;

std::wstring W(const std::string& utf8) { return platform::WideFromUtf8(utf8); }

// The service's "Description" value, read back in UTF-16; nothing when the
// value is missing.
std::optional<std::wstring> RegistryDescription(const std::string& name) {
    const std::wstring key = L"System\\CurrentControlSet\\Services\\" + W(name);
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Description", RRF_RT_REG_SZ, nullptr,
                       nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Description", RRF_RT_REG_SZ, nullptr,
                       buf.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buf.data());
}

struct TConfig {
    DWORD Type = 0, Start = 0, ErrorControl = 0;
    std::wstring Path, DisplayName, Account, Dependencies, Group;
};

// The manager's own record of the service.
std::optional<TConfig> ManagerConfig(const std::string& name) {
    SC_HANDLE scm = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (scm == nullptr) return std::nullopt;
    std::optional<TConfig> out;
    if (SC_HANDLE svc = ::OpenServiceW(scm, W(name).c_str(), SERVICE_QUERY_CONFIG)) {
        DWORD need = 0;
        ::QueryServiceConfigW(svc, nullptr, 0, &need);
        std::vector<unsigned char> buf(need + 64);
        auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
        if (::QueryServiceConfigW(svc, c, static_cast<DWORD>(buf.size()), &need)) {
            auto text = [](const wchar_t* s) { return std::wstring(s != nullptr ? s : L""); };
            out = TConfig{c->dwServiceType,        c->dwStartType,
                          c->dwErrorControl,       text(c->lpBinaryPathName),
                          text(c->lpDisplayName),  text(c->lpServiceStartName),
                          text(c->lpDependencies), text(c->lpLoadOrderGroup)};
        }
        ::CloseServiceHandle(svc);
    }
    ::CloseServiceHandle(scm);
    return out;
}

TEST(ServiceControlWin, InstallRegistersOwnAutoStartedProcessAndDescription) {
    ServiceCleanup svc(UniqueServiceName("Install"));
    const std::string path = "C:\\Quillmoor\\QuillmoorService.exe";
    ASSERT_FALSE(ServiceExists(svc.Name()));
    ASSERT_TRUE(ServiceInstall(svc.Name(), "Quillmoor test service", path,
                               "Archives Firebird databases - https://example.org"));
    EXPECT_TRUE(ServiceExists(svc.Name()));

    const std::optional<TConfig> c = ManagerConfig(svc.Name());
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->Type, 16u);  // its own process
    EXPECT_EQ(c->Start, 2u);  // started with the system
    EXPECT_EQ(c->ErrorControl, 1u);
    EXPECT_EQ(c->Path, W(path));
    EXPECT_EQ(c->DisplayName, L"Quillmoor test service");
    EXPECT_EQ(c->Account, L"LocalSystem");
    EXPECT_EQ(c->Dependencies, L"");
    EXPECT_EQ(c->Group, L"");
    EXPECT_EQ(RegistryDescription(svc.Name()),
              std::optional<std::wstring>(L"Archives Firebird databases - https://example.org"));

    // Installed and never started: stopped, and nothing to stop.
    qm::SERVICE_STATUS s;
    ServiceGetStatus(svc.Name(), s);
    EXPECT_EQ(s.dwCurrentState, kServiceStopped);
    EXPECT_EQ(s.dwServiceType, 16u);
    EXPECT_FALSE(ServiceStop(svc.Name()));

    EXPECT_TRUE(ServiceUninstall(svc.Name()));
    EXPECT_FALSE(ServiceExists(svc.Name()));
    EXPECT_FALSE(ServiceUninstall(svc.Name()));
}

TEST(ServiceControlWin, SecondInstallOfTheNameFailsAndChangesNothing) {
    ServiceCleanup svc(UniqueServiceName("Twice"));
    ASSERT_TRUE(ServiceInstall(svc.Name(), "First display", "C:\\first\\one.exe", "first text"));
    EXPECT_FALSE(
        ServiceInstall(svc.Name(), "Second display", "C:\\second\\two.exe", "second text"));

    const std::optional<TConfig> c = ManagerConfig(svc.Name());
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->Path, L"C:\\first\\one.exe");
    EXPECT_EQ(c->DisplayName, L"First display");
    EXPECT_EQ(RegistryDescription(svc.Name()), std::optional<std::wstring>(L"first text"));
}

// A path with a blank is quoted, or the manager would first try to run the
// part before the blank; any other path is the command as it is.
TEST(ServiceControlWin, PathWithBlankIsQuotedInTheCommand) {
    ServiceCleanup svc(UniqueServiceName("Blank"));
    ASSERT_TRUE(ServiceInstall(svc.Name(), "Blank path", "C:\\Program Files\\Q\\Q.exe", ""));
    const std::optional<TConfig> c = ManagerConfig(svc.Name());
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->Path, L"\"C:\\Program Files\\Q\\Q.exe\"");
}

// Texts the manager would not register as given are refused before anything
// is registered.
TEST(ServiceControlWin, UnfaithfulTextsAreRefusedWithNothingRegistered) {
    struct Case {
        const char* what;
        std::string display, path;
    };
    const std::vector<Case> cases = {
        {"line break in the display name", "Two\nlines", "C:\\q\\q.exe"},
        {"tab in the path", "Tab", "C:\\q\\\tq.exe"},
        {"quote in the path", "Quote", "C:\\q\"\\q.exe"},
        {"empty path", "Empty", ""},
        {"not UTF-8", "Bad \xff\xfe text", "C:\\q\\q.exe"},
    };
    for (const Case& c : cases) {
        ServiceCleanup svc(UniqueServiceName("Refused"));
        EXPECT_FALSE(ServiceInstall(svc.Name(), c.display, c.path, "text")) << c.what;
        EXPECT_FALSE(ServiceExists(svc.Name())) << c.what;
        EXPECT_FALSE(RegistryDescription(svc.Name()).has_value()) << c.what;
    }
}

// The program's texts are UTF-8 and reach the manager as UTF-16: Cyrillic
// arrives whole whatever the system's code page.
TEST(ServiceControlWin, CyrillicTextsArriveWhole) {
    ServiceCleanup svc(UniqueServiceName("Cyrillic"));
    const std::string display = "Автоархиватор Firebird";
    const std::string description = "Служба для автоматической архивации баз данных Firebird";
    ASSERT_TRUE(ServiceInstall(svc.Name(), display, "C:\\q\\q.exe", description))
        << "ANSI code page " << ::GetACP();
    const std::optional<TConfig> c = ManagerConfig(svc.Name());
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->DisplayName, W(display));
    EXPECT_EQ(RegistryDescription(svc.Name()), std::optional<std::wstring>(W(description)));
}

TEST(ServiceControlWin, MissingServiceIsRefusedEverywhere) {
    const std::string name = UniqueServiceName("Missing");
    EXPECT_FALSE(ServiceExists(name));
    EXPECT_FALSE(ServiceStart(name));
    EXPECT_FALSE(ServiceStop(name));
    EXPECT_FALSE(ServiceUninstall(name));
    qm::SERVICE_STATUS s;
    s.dwCurrentState = 99;
    s.dwWin32ExitCode = 5;
    ServiceGetStatus(name, s);
    EXPECT_EQ(s.dwCurrentState, 0u);
    EXPECT_EQ(s.dwWin32ExitCode, 0u);
    EXPECT_EQ(s.dwServiceType, 0u);
}

TEST(ServiceControlWin, StartOfServiceWhoseProgramIsMissingFails) {
    ServiceCleanup svc(UniqueServiceName("NoProgram"));
    ASSERT_TRUE(ServiceInstall(svc.Name(), "No program", "C:\\nowhere\\missing.exe", ""));
    EXPECT_FALSE(ServiceStart(svc.Name()));
    qm::SERVICE_STATUS s;
    ServiceGetStatus(svc.Name(), s);
    EXPECT_EQ(s.dwCurrentState, kServiceStopped);
}

}  // namespace
}  // namespace qm
