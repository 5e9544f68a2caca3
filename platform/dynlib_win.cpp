#include <cstdint>

#include "platform/dynlib.h"
#include "platform/win.h"

namespace qm::platform {

namespace {

void Fill(LibraryError* err) {
    if (err == nullptr) return;
    const DWORD code = ::GetLastError();
    err->code = static_cast<int>(code);
    err->text = code != 0 ? SystemErrorText(code) : std::string();
}

}  // namespace

void* OpenLibrary(const std::string& name, LibraryError* err) {
    // The system's own message boxes for a missing DLL would stop an
    // unattended service; the failure is reported to the caller instead.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    ::SetLastError(0);
    HMODULE h = ::LoadLibraryW(WideFromUtf8(name).c_str());
    // Handles up to 32 were error codes in the loader's 16-bit days; such a
    // value is taken for a failure as a null handle is.
    if (reinterpret_cast<std::uintptr_t>(h) <= 32) {
        Fill(err);
        h = nullptr;
    }
    ::SetErrorMode(oldMode);
    return reinterpret_cast<void*>(h);
}

void* FindSymbol(void* handle, const char* name, LibraryError* err) {
    ::SetLastError(0);
    FARPROC p = ::GetProcAddress(static_cast<HMODULE>(handle), name);
    if (p == nullptr) Fill(err);
    return reinterpret_cast<void*>(p);
}

void CloseLibrary(void* handle) {
    if (handle != nullptr) ::FreeLibrary(static_cast<HMODULE>(handle));
}

}  // namespace qm::platform
