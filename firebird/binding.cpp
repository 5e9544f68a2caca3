#include "firebird/binding.h"

#include <cstring>

#include "firebird/client_api.h"
#include "firebird/fpu.h"
#include "platform/dynlib.h"

namespace qm {

namespace {

// Resolves one entry point into its typed slot; required ones raise EOSError
// with what the system says about the failed lookup.
template <class F>
bool Resolve(void* module, const char* name, F& slot, bool required) {
    platform::LibraryError err;
    void* address = platform::FindSymbol(module, name, &err);
    if (address == nullptr) {
        if (!required) return false;
        throw EOSError(err.code, err.text, name);
    }
    slot = reinterpret_cast<F>(address);
    return true;
}

}  // namespace

void RaiseMissingEntryPoint(const char* entry, const std::string& libraryName) {
    throw EFbLibraryError(std::string("Can't find procedure ") + entry + " in " + libraryName);
}

TFbClientLibrary::TFbClientLibrary(const std::string& name)
    : name_(name), api_(std::make_unique<FbClientApi>()) {
    // An empty name would give the handle of the program itself.
    platform::LibraryError loadError;
    if (!name.empty()) module_ = platform::OpenLibrary(name, &loadError);
    if (module_ == nullptr) throw EFbLibraryError("Can't load library " + name + " ");
    try {
        FbClientApi& api = *api_;
        api.libraryName = name;
#define QM_FB_REQUIRE(entry) Resolve(module_, #entry, api.p_##entry, true);
#define QM_FB_OPTIONAL(entry) Resolve(module_, #entry, api.p_##entry, false);
        QM_FB_REQUIRED_ENTRIES(QM_FB_REQUIRE)
        if (Resolve(module_, "isc_rollback_retaining", api.p_isc_rollback_retaining, false)) {
            major_ = 6;
            minor_ = 0;
            QM_FB_GENERATION_ENTRIES(QM_FB_REQUIRE)
        } else {
            major_ = 5;
            minor_ = 0;
        }
        if (Resolve(module_, "isc_get_client_version", api.p_isc_get_client_version, false)) {
            QM_FB_VERSION_ENTRIES(QM_FB_REQUIRE)
            major_ = api.p_isc_get_client_major_version();
            minor_ = api.p_isc_get_client_minor_version();
            QM_FB_VERSION_OPTIONAL_ENTRIES(QM_FB_OPTIONAL)
        } else {
            minor_ = 0;
        }
#undef QM_FB_REQUIRE
#undef QM_FB_OPTIONAL
    } catch (...) {
        platform::CloseLibrary(module_);
        module_ = nullptr;
        throw;
    }
    SetExtendedFpuPrecision();
}

TFbClientLibrary::~TFbClientLibrary() {
    api_.reset();
    platform::CloseLibrary(module_);
    module_ = nullptr;
}

ClientLibraryRegistry::~ClientLibraryRegistry() {
    std::lock_guard guard(lock_);
    bindings_.clear();
}

IFbClientLibrary ClientLibraryRegistry::Acquire(const std::string& libraryName) {
    std::lock_guard guard(lock_);
    for (const IFbClientLibrary& b : bindings_) {
        if (b->LibraryName() == libraryName) return b;
    }
    IFbClientLibrary made(new TFbClientLibrary(libraryName));
    bindings_.push_back(made);
    return made;
}

std::size_t ClientLibraryRegistry::Size() const {
    std::lock_guard guard(lock_);
    return bindings_.size();
}

ClientLibraryRegistry& ClientLibraries() {
    static ClientLibraryRegistry registry;
    return registry;
}

IFbClientLibrary AcquireClientLibrary(const std::string& libraryName) {
    return ClientLibraries().Acquire(libraryName);
}

FbStatus* StatusVector() {
    thread_local FbStatus status[kStatusVectorLength] = {};
    return status;
}

}  // namespace qm
