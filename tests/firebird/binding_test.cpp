#include "firebird/binding.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "firebird/client_api.h"
#include "firebird/database.h"
#include "firebird/errors.h"
#include "tests/firebird/fb_test_support.h"

namespace qm {
namespace {

using test::FakeClient;

// Whether the file is currently loaded into the process.
bool IsLoaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) return false;
    dlclose(h);
    return true;
}

std::string BindingFailure(ClientLibraryRegistry& registry, const std::string& name) {
    try {
        registry.Acquire(name);
    } catch (const EFbError&) {
        return "EFbError";
    } catch (const std::exception& e) {
        return e.what();
    }
    return "bound";
}

TEST(Binding, RealClientReportsItsOwnVersionAndIsSharedPerName) {
    IFbClientLibrary a = AcquireClientLibrary("libfbclient.so.2");
    IFbClientLibrary b = AcquireClientLibrary("libfbclient.so.2");
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(a->LibraryName(), "libfbclient.so.2");
    // The Firebird 3 client reports the version of its API generation, 6.3.
    EXPECT_EQ(a->ClientVersionMajor(), 6);
    EXPECT_EQ(a->ClientVersionMinor(), 3);
    EXPECT_TRUE(a->Api().HasRollbackRetaining());
}

TEST(Binding, VersionFollowsTheMarkersTheLibraryHas) {
    struct Case {
        const char* variant;
        int major;
        int minor;
    };
    for (const Case c : {Case{"v5", 5, 0}, Case{"v6", 6, 0}, Case{"version", 7, 3}}) {
        ClientLibraryRegistry registry;
        IFbClientLibrary lib = registry.Acquire(FakeClient(c.variant));
        EXPECT_EQ(lib->ClientVersionMajor(), c.major) << c.variant;
        EXPECT_EQ(lib->ClientVersionMinor(), c.minor) << c.variant;
    }
}

TEST(Binding, MissingRequiredEntryPointIsAnOperatingSystemErrorAndUnloads) {
    for (const char* variant : {"no_prepare", "no_service_query", "no_minor"}) {
        ClientLibraryRegistry registry;
        const std::string path = FakeClient(variant);
        try {
            registry.Acquire(path);
            ADD_FAILURE() << variant << " was bound";
        } catch (const EOSError& e) {
            // The lookup of a missing symbol sets no error code on this
            // platform, so the message is the one for code 0.
            EXPECT_STREQ(e.what(), "A call to an OS function failed") << variant;
        } catch (const EFbError&) {
            ADD_FAILURE() << "a binding failure must not be an EFbError";
        }
        EXPECT_EQ(registry.Size(), 0u);
        EXPECT_FALSE(IsLoaded(path)) << variant;
    }
}

TEST(Binding, OperatingSystemErrorMessageCarriesCodeAndText) {
    EOSError e(127, "The specified procedure could not be found.", "isc_dsql_prepare");
    EXPECT_STREQ(e.what(),
                 "System Error.  Code: 127.\r\nThe specified procedure could not be found.");
    EXPECT_EQ(e.EntryPoint(), "isc_dsql_prepare");
}

TEST(Binding, MissingLibraryMessagesEndWithABlank) {
    ClientLibraryRegistry registry;
    EXPECT_EQ(BindingFailure(registry, "/nonexistent/libnothing.so"),
              "Can't load library /nonexistent/libnothing.so ");
    // An empty name must not bind to the program itself.
    EXPECT_EQ(BindingFailure(registry, ""), "Can't load library  ");
    EXPECT_EQ(registry.Size(), 0u);
}

TEST(Binding, NamesDifferingInCaseGiveTwoBindingsAndTwoLoads) {
    test::TempDir dir;
    const std::string lower = dir.File("libfake.so");
    const std::string upper = dir.File("LIBFAKE.so");
    std::filesystem::copy_file(FakeClient("v6"), lower);
    std::filesystem::copy_file(FakeClient("v6"), upper);
    {
        ClientLibraryRegistry registry;
        IFbClientLibrary a = registry.Acquire(lower);
        IFbClientLibrary b = registry.Acquire(upper);
        EXPECT_NE(a.get(), b.get());
        EXPECT_EQ(registry.Size(), 2u);
        EXPECT_TRUE(IsLoaded(lower));
        EXPECT_TRUE(IsLoaded(upper));
    }
    // The last reference gone, the libraries are unloaded.
    EXPECT_FALSE(IsLoaded(lower));
    EXPECT_FALSE(IsLoaded(upper));
}

TEST(Binding, LibraryStaysLoadedWhileAComponentHoldsIt) {
    test::TempDir dir;
    const std::string path = dir.File("libheld.so");
    std::filesystem::copy_file(FakeClient("v6"), path);
    IFbClientLibrary held;
    {
        ClientLibraryRegistry registry;
        held = registry.Acquire(path);
    }
    EXPECT_TRUE(IsLoaded(path));
    held.reset();
    EXPECT_FALSE(IsLoaded(path));
}

TEST(Binding, OptionalEntryPointMissingRaisesWhenCalled) {
    IFbClientLibrary lib = AcquireClientLibrary(FakeClient("v5"));
    FbHandle service = 0;
    try {
        lib->Api().isc_service_attach(StatusVector(), 0, "service_mgr", &service, 0, nullptr);
        FAIL() << "called a missing entry point";
    } catch (const EFbLibraryError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Can't find procedure isc_service_attach in " + FakeClient("v5"));
    }
}

TEST(Binding, StatusVectorIsPerThread) {
    FbStatus* mine = StatusVector();
    FbStatus* other = nullptr;
    std::thread([&] { other = StatusVector(); }).join();
    EXPECT_NE(mine, other);
    EXPECT_EQ(mine, StatusVector());
}

}  // namespace
}  // namespace qm
