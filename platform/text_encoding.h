#pragma once

#include <string>
#include <string_view>

namespace qm::platform {

// The text, written in the named encoding (a name the system's converter
// knows: "CP1251", "KOI8-R", "SHIFT_JIS"), as UTF-8. A byte the encoding does
// not define becomes U+FFFD and the conversion goes on after it. An encoding
// the system does not know gives the text unchanged. Never throws but for a
// failed allocation.
std::string DecodeToUtf8(std::string_view text, const std::string& encoding);

// The program's text is UTF-8; the files that are kept in the system's 8-bit
// code page (the settings file, the list file, the service's event log) are
// converted at the seam with these two. On Linux the system's 8-bit encoding
// is UTF-8 and both give the text unchanged; on Windows they convert from and
// to the ANSI code page (1251 on a Russian system), where a character that
// the code page lacks becomes the system's default character.
std::string Utf8ToSystem8Bit(std::string_view utf8);
std::string System8BitToUtf8(std::string_view text);

}  // namespace qm::platform
