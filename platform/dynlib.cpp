#include "platform/dynlib.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstring>

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

void* FindSymbol(void* handle, const char* name, LibraryError* err) {
    errno = 0;
    void* address = ::dlsym(handle, name);
    if (address == nullptr && err != nullptr) {
        // dlsym reports through dlerror only; errno may hold a reason of the
        // lookup underneath it.
        const int code = errno;
        err->code = code;
        err->text = code != 0 ? std::strerror(code) : "";
    }
    return address;
}

void CloseLibrary(void* handle) {
    if (handle != nullptr) ::dlclose(handle);
}

}  // namespace qm::platform
