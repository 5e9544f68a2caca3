#pragma once

namespace qm::platform {

// Points the process's standard input at the null device for the object's
// life and then gives back the standard input it had (one that was closed is
// closed again). For a library that reads the standard input on its own, such
// as the embedded Firebird engine asking for the next volume of an archive
// that breaks off: it meets the end at once instead of waiting on a terminal.
// The standard input is one for the whole process, so the objects of two
// threads must not overlap. When the null device cannot be opened the standard
// input stays as it is. Never throws.
class StandardInputFromNull {
public:
    StandardInputFromNull();
    ~StandardInputFromNull();
    StandardInputFromNull(const StandardInputFromNull&) = delete;
    StandardInputFromNull& operator=(const StandardInputFromNull&) = delete;

private:
    int saved_ = -1;  // a copy of the standard input; -1 when it was closed
    bool redirected_ = false;
#ifdef _WIN32
    void* savedHandle_ = nullptr;  // the system's standard input handle
#endif
};

}  // namespace qm::platform
