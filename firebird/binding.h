#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// The binding to the Firebird client library: the library is never linked but
// loaded at run time by the file name the settings hold, and its entry points
// are resolved by name into a table of typed function pointers.
//
// The typed table (FbClientApi) is declared in firebird/client_api.h, which
// includes Firebird's ibase.h and is therefore for the .cpp files of this layer
// only; nothing above the layer sees a client-library type.
namespace qm {

// The client API's status entry (ISC_STATUS) and handle (FB_API_HANDLE on a
// 64-bit platform) under names of our own; client_api.h checks that they are
// the very types of ibase.h.
using FbStatus = std::intptr_t;
using FbHandle = std::uint32_t;

// Entries of the status array the client API fills on every call.
inline constexpr int kStatusVectorLength = 20;

struct FbClientApi;

// A failure of the binding itself (a library or an entry point is missing).
// These are deliberately not EFbError: the script executor routes only the
// EFbError family to its error event, and a missing library ends the run.
class EFbLibraryError : public std::runtime_error {
public:
    explicit EFbLibraryError(const std::string& message) : std::runtime_error(message) {}
};

// An operating-system call failed while binding. The message is
// "System Error.  Code: <code>.\r\n<text>", or "A call to an OS function
// failed" when the system gave no code. EntryPoint names the entry point whose
// resolution failed (not part of the message).
class EOSError : public EFbLibraryError {
public:
    EOSError(int code, const std::string& systemText, std::string entryPoint);
    int ErrorCode() const { return code_; }
    const std::string& EntryPoint() const { return entryPoint_; }

private:
    int code_;
    std::string entryPoint_;
};

// One loaded client library and its resolved entry points. Created only by a
// ClientLibraryRegistry; shared by std::shared_ptr, and the library is unloaded
// when the last reference goes.
class TFbClientLibrary {
public:
    ~TFbClientLibrary();
    TFbClientLibrary(const TFbClientLibrary&) = delete;
    TFbClientLibrary& operator=(const TFbClientLibrary&) = delete;

    // The file name the library was loaded by; the registry's key.
    const std::string& LibraryName() const { return name_; }
    // 5.0 for a library without isc_rollback_retaining, 6.0 for one with it,
    // or what isc_get_client_major_version/minor_version report when the
    // library has isc_get_client_version.
    std::int32_t ClientVersionMajor() const { return major_; }
    std::int32_t ClientVersionMinor() const { return minor_; }

    // The resolved entry points (firebird/client_api.h). Calling one that
    // the library lacks raises EFbLibraryError "Can't find procedure <entry
    // point> in <library name>".
    const FbClientApi& Api() const { return *api_; }

private:
    friend class ClientLibraryRegistry;
    // Loads and resolves; raises the binding failures (see AcquireClientLibrary).
    explicit TFbClientLibrary(const std::string& name);

    std::string name_;
    void* module_ = nullptr;
    std::unique_ptr<FbClientApi> api_;
    std::int32_t major_ = 0;
    std::int32_t minor_ = 0;
};

// The binding as its users hold it.
using IFbClientLibrary = std::shared_ptr<TFbClientLibrary>;

// A list of bindings keyed by the exact library name (case-sensitive, byte
// for byte), guarded by one lock. The registry keeps one reference to every
// binding it made until it is destroyed, so a library once loaded stays loaded
// while the registry lives. The process has one (ClientLibraries()); tests may
// make their own to see a library unloaded.
class ClientLibraryRegistry {
public:
    ClientLibraryRegistry() = default;
    ~ClientLibraryRegistry();
    ClientLibraryRegistry(const ClientLibraryRegistry&) = delete;
    ClientLibraryRegistry& operator=(const ClientLibraryRegistry&) = delete;

    // The binding for the name, constructed on first use. Raises:
    // - EFbLibraryError "Can't load library <name> " (with the trailing blank)
    //   when the library cannot be loaded or the name is empty;
    // - EOSError when a required entry point is missing (the 46 always
    //   required ones, and the groups that a present marker requires).
    // A failed construction leaves the registry unchanged and unloads what it
    // loaded, so the next call tries again.
    IFbClientLibrary Acquire(const std::string& libraryName);

    // Number of bindings held (for tests).
    std::size_t Size() const;

private:
    mutable std::mutex lock_;
    std::vector<IFbClientLibrary> bindings_;
};

// The process-wide registry, released when the process ends: a client library
// once loaded stays loaded until then, even when no component uses it.
ClientLibraryRegistry& ClientLibraries();

// ClientLibraries().Acquire(libraryName).
IFbClientLibrary AcquireClientLibrary(const std::string& libraryName);

// The calling thread's status array of kStatusVectorLength entries, which every
// client call of the layer passes and the error reporting reads.
FbStatus* StatusVector();

}  // namespace qm
