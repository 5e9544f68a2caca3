#include "platform/dynlib.h"

#include <dlfcn.h>

#include <cerrno>

namespace qm::platform {

void* OpenLibrary(const std::string& name, LibraryError* err) {
    dlerror();
    void* h = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr && err != nullptr) {
        const char* text = dlerror();
        // dlopen has no error number of its own; errno may still hold the
        // reason of the failed open underneath it.
        err->code = errno;
        err->text = text ? text : "";
    }
    return h;
}

void* FindSymbol(void* handle, const char* name) { return ::dlsym(handle, name); }

void CloseLibrary(void* handle) {
    if (handle != nullptr) ::dlclose(handle);
}

}  // namespace qm::platform
