#include "platform/process.h"

#include <fcntl.h>
#include <unistd.h>

namespace qm::platform {

StandardInputFromNull::StandardInputFromNull() {
    // Kept above the three standard descriptors, and out of every child.
    saved_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0) return;
    if (null == STDIN_FILENO) {
        // The standard input was closed and the open took its place; a child
        // started meanwhile inherits it like any standard input.
        ::fcntl(STDIN_FILENO, F_SETFD, 0);
    } else {
        ::dup2(null, STDIN_FILENO);
        ::close(null);
    }
    redirected_ = true;
}

StandardInputFromNull::~StandardInputFromNull() {
    if (saved_ >= 0) {
        if (redirected_) ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    } else if (redirected_) {
        ::close(STDIN_FILENO);
    }
}

}  // namespace qm::platform
