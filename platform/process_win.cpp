#include <fcntl.h>
#include <io.h>

#include "platform/process.h"
#include "platform/win.h"

namespace qm::platform {

// The runtime's descriptor 0 and the system's standard input handle are both
// pointed at the null device: a library may read either.
StandardInputFromNull::StandardInputFromNull() {
    saved_ = ::_dup(0);
    savedHandle_ = ::GetStdHandle(STD_INPUT_HANDLE);
    const int null = ::_open("NUL", _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (null < 0) {
        if (saved_ >= 0) ::_close(saved_);
        saved_ = -1;
        return;
    }
    ::_dup2(null, 0);
    ::_close(null);
    ::SetStdHandle(STD_INPUT_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(0)));
    redirected_ = true;
}

StandardInputFromNull::~StandardInputFromNull() {
    if (!redirected_) return;
    if (saved_ >= 0) {
        ::_dup2(saved_, 0);
        ::_close(saved_);
    } else {
        ::_close(0);
    }
    ::SetStdHandle(STD_INPUT_HANDLE, static_cast<HANDLE>(savedHandle_));
}

}  // namespace qm::platform
