#pragma once

#include <string>

namespace qm {

// A script's text, or a server message about it, written in the connection
// character set that a script run names (a Firebird name such as "WIN1251"
// or "DOS866"), as UTF-8 for the screen. UTF8, UNICODE_FSS, NONE, OCTETS,
// ASCII, an empty name and a name of no known code page leave the text as it
// is; a byte the character set does not define becomes U+FFFD.
std::string ScriptTextToUtf8(const std::string& text, const std::string& charSet);

}  // namespace qm
