#pragma once

// windows.h as the Windows backends of this folder include it: without the
// min/max macros and the rarely used parts. Its name macros (DeleteFile and
// the like) are taken back so that our functions keep their names.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef DeleteFile

#include <string>

namespace qm::platform {

// The system's own text for an error code, without the line break it ends
// with; "" when the system has none.
std::string SystemErrorText(unsigned long code);

// UTF-8 text as UTF-16 and back, for the calls that take wide text.
std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);

}  // namespace qm::platform
