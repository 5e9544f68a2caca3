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

}  // namespace qm::platform
