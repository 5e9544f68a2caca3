#include <cstdlib>
#include <cstring>

#include "platform/text_encoding.h"
#include "platform/win.h"

namespace qm::platform {

namespace {

// The Windows code page of an encoding name as the system's converter on
// Linux knows it; 0 for one Windows has no code page for.
UINT CodePageOfName(const std::string& name) {
    struct Named {
        const char* name;
        UINT codePage;
    };
    static constexpr Named kNamed[] = {
        {"UTF-8", CP_UTF8}, {"EUC-JP", 20932}, {"SHIFT_JIS", 932}, {"KOI8-R", 20866},
        {"KOI8-U", 21866},  {"BIG5", 950},     {"GB2312", 936},    {"GBK", 936},
        {"GB18030", 54936}, {"EUC-KR", 51949}, {"TIS-620", 874},   {"IBM943", 932},
    };
    for (const Named& n : kNamed)
        if (_stricmp(name.c_str(), n.name) == 0) return n.codePage;
    auto number = [](const char* digits) -> UINT {
        if (*digits == '\0') return 0;
        char* end = nullptr;
        const unsigned long v = std::strtoul(digits, &end, 10);
        return *end == '\0' && v > 0 && v < 65536 ? static_cast<UINT>(v) : 0;
    };
    if (_strnicmp(name.c_str(), "CP", 2) == 0) return number(name.c_str() + 2);
    if (_strnicmp(name.c_str(), "ISO-8859-", 9) == 0) {
        const UINT part = number(name.c_str() + 9);
        return part > 0 && part <= 16 ? 28590 + part : 0;
    }
    return 0;
}

bool IsValidCodePage(UINT codePage) { return codePage != 0 && ::IsValidCodePage(codePage); }

}  // namespace

std::string DecodeToUtf8(std::string_view text, const std::string& encoding) {
    const UINT codePage = CodePageOfName(encoding);
    if (!IsValidCodePage(codePage)) return std::string(text);
    if (text.empty()) return {};
    std::wstring wide = Widen(text, codePage);
    if (wide.empty()) return std::string(text);
    // The system gives a byte that a Windows code page leaves undefined the
    // control character of the same number; these code pages define no
    // control characters there, so such a character is that byte.
    if (codePage == 874 || (codePage >= 1250 && codePage <= 1258)) {
        for (wchar_t& w : wide)
            if (w >= 0x80 && w <= 0x9F) w = static_cast<wchar_t>(0xFFFD);
    }
    return Narrow(wide, CP_UTF8);
}

std::string Utf8ToSystem8Bit(std::string_view utf8) {
    if (utf8.empty()) return {};
    return Narrow(Widen(utf8, CP_UTF8), CP_ACP);
}

std::string System8BitToUtf8(std::string_view text) {
    if (text.empty()) return {};
    return Narrow(Widen(text, CP_ACP), CP_UTF8);
}

}  // namespace qm::platform
