#include "firebird/fpu.h"

#if (defined(__i386__) || defined(__x86_64__)) && !defined(_WIN32)
#include <fpu_control.h>
#define QM_HAVE_X87 1
#elif (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
// Windows has no fpu_control.h; the control word is read and set directly.
// The system starts every thread with 53-bit precision (0x27F).
#define QM_HAVE_X87_ASM 1
#endif

namespace qm {

void SetExtendedFpuPrecision() {
#ifdef QM_HAVE_X87
    fpu_control_t cw;
    _FPU_GETCW(cw);
    cw |= 0x300;
    _FPU_SETCW(cw);
#elif defined(QM_HAVE_X87_ASM)
    unsigned short cw = 0;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    cw |= 0x300;
    __asm__ volatile("fldcw %0" : : "m"(cw));
#endif
}

void RestoreDefaultFpuControl() {
#ifdef QM_HAVE_X87
    fpu_control_t cw = __fpu_control;
    _FPU_SETCW(cw);
#elif defined(QM_HAVE_X87_ASM)
    unsigned short cw = 0x27F;
    __asm__ volatile("fldcw %0" : : "m"(cw));
#endif
}

}  // namespace qm
