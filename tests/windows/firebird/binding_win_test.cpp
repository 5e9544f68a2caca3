#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "firebird/binding.h"
#include "firebird/client_api.h"

namespace qm {
namespace {

// A path of the build tree as Windows names it: Wine shows the Linux root as
// drive Z.
std::string WindowsPath(std::string unixPath) {
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return "Z:" + unixPath;
}

std::string FakeDll(const char* variant) {
    return WindowsPath(QM_FAKE_DLL_DIR) + "fbfake_" + variant + ".dll";
}

bool IsLoaded(const std::string& path) { return ::GetModuleHandleA(path.c_str()) != nullptr; }

// The system's words for the code, as UTF-8 (the program's text).
std::string SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    char text[1024] = {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), text,
                                           sizeof text, nullptr, nullptr);
    ::LocalFree(buffer);
    std::string s(text, size > 0 ? static_cast<std::size_t>(size) : 0);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

TEST(WindowsBinding, VersionFollowsTheMarkersTheLibraryHas) {
    const struct {
        const char* variant;
        int major;
        int minor;
    } cases[] = {{"v5", 5, 0}, {"v6", 6, 0}, {"version", 7, 3}};
    for (const auto& c : cases) {
        ClientLibraryRegistry registry;
        IFbClientLibrary lib = registry.Acquire(FakeDll(c.variant));
        EXPECT_EQ(lib->ClientVersionMajor(), c.major) << c.variant;
        EXPECT_EQ(lib->ClientVersionMinor(), c.minor) << c.variant;
        EXPECT_EQ(lib->Api().HasRollbackRetaining(), c.major >= 6) << c.variant;
    }
}

TEST(WindowsBinding, MissingEntryPointGivesTheSystemsCodeAndTextAndUnloads) {
    ClientLibraryRegistry registry;
    const std::string path = FakeDll("no_prepare");
    try {
        registry.Acquire(path);
        ADD_FAILURE() << "bound without isc_dsql_prepare";
    } catch (const EOSError& e) {
        // ERROR_PROC_NOT_FOUND, with the system's own words for it.
        EXPECT_EQ(e.ErrorCode(), 127);
        EXPECT_EQ(e.EntryPoint(), "isc_dsql_prepare");
        EXPECT_EQ(std::string(e.what()), "System Error.  Code: 127.\r\n" + SystemText(127));
        EXPECT_FALSE(SystemText(127).empty());
    }
    EXPECT_EQ(registry.Size(), 0u);
    EXPECT_FALSE(IsLoaded(path));
}

TEST(WindowsBinding, LibrariesLoadByNameAndUnloadWithTheirLastUser) {
    const std::string path = FakeDll("v6");
    {
        ClientLibraryRegistry registry;
        IFbClientLibrary a = registry.Acquire(path);
        EXPECT_EQ(registry.Acquire(path).get(), a.get());
        EXPECT_TRUE(IsLoaded(path));
    }
    EXPECT_FALSE(IsLoaded(path));

    ClientLibraryRegistry registry;
    for (const std::string& name : {std::string("Z:\\no\\such\\gds32.dll"),
                                    std::string("fbclient-that-is-nowhere.dll"), std::string()}) {
        try {
            registry.Acquire(name);
            ADD_FAILURE() << name << " was bound";
        } catch (const EOSError&) {
            ADD_FAILURE() << "a missing library is no operating-system error";
        } catch (const EFbLibraryError& e) {
            EXPECT_EQ(std::string(e.what()), "Can't load library " + name + " ");
        }
    }
    EXPECT_EQ(registry.Size(), 0u);
}

}  // namespace
}  // namespace qm
