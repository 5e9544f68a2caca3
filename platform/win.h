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

#include <optional>
#include <string>
#include <string_view>

namespace qm::platform {

// The system's own text for an error code, as UTF-8 and without the line
// break it ends with; "" when the system has none.
std::string SystemErrorText(unsigned long code);

// Text of a code page as UTF-16 and back ("" for what cannot be converted).
std::wstring Widen(std::string_view text, unsigned codePage);
std::string Narrow(std::wstring_view wide, unsigned codePage);

// UTF-8 text as UTF-16 and back, for the calls that take wide text.
inline std::wstring WideFromUtf8(std::string_view utf8) { return Widen(utf8, CP_UTF8); }
inline std::string Utf8FromWide(std::wstring_view wide) { return Narrow(wide, CP_UTF8); }
// Nothing when the text is not UTF-8, where a faithful text is required.
std::optional<std::wstring> WideFromValidUtf8(std::string_view utf8);

}  // namespace qm::platform
