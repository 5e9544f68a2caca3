#pragma once

#include <string>

namespace qm::platform {

// Why a library could not be loaded: the system's error code (0 when the
// system gives none) and its text.
struct LibraryError {
    int code = 0;
    std::string text;
};

// Loads a shared library by name (a bare name is searched the system's way).
// Returns nullptr and fills err on failure.
void* OpenLibrary(const std::string& name, LibraryError* err);

// Address of an exported entry point; nullptr when the library lacks it, and
// then err (when given) holds what the system said about the failed lookup
// (code 0 when it said nothing).
void* FindSymbol(void* handle, const char* name, LibraryError* err = nullptr);

void CloseLibrary(void* handle);

}  // namespace qm::platform
