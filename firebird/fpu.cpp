#include "firebird/fpu.h"

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#define QM_HAVE_X87 1
#endif

namespace qm {

void SetExtendedFpuPrecision() {
#ifdef QM_HAVE_X87
    fpu_control_t cw;
    _FPU_GETCW(cw);
    cw |= 0x300;
    _FPU_SETCW(cw);
#endif
}

void RestoreDefaultFpuControl() {
#ifdef QM_HAVE_X87
    fpu_control_t cw = __fpu_control;
    _FPU_SETCW(cw);
#endif
}

}  // namespace qm
