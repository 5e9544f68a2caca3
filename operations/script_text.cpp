#include "operations/script_text.h"

#include <cctype>
#include <string_view>

#include "platform/text_encoding.h"

namespace qm {

namespace {

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (const char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// The system's name of the code page of a Firebird character set; "" where
// the bytes are to be shown as they are.
std::string CodePageOf(std::string name) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string_view n = name;
    struct Named {
        std::string_view firebird;
        const char* codePage;
    };
    // Firebird's CYRL keeps its text in the bytes of Windows-1251.
    static constexpr Named kNamed[] = {
        {"CYRL", "CP1251"},     {"EUCJ_0208", "EUC-JP"}, {"SJIS_0208", "SHIFT_JIS"},
        {"KOI8R", "KOI8-R"},    {"KOI8U", "KOI8-U"},     {"BIG_5", "BIG5"},
        {"GB_2312", "GB2312"},  {"GBK", "GBK"},          {"GB18030", "GB18030"},
        {"KSC_5601", "EUC-KR"}, {"TIS620", "TIS-620"},   {"CP943C", "IBM943"},
    };
    for (const Named& k : kNamed) {
        if (n == k.firebird) return k.codePage;
    }
    if ((n.starts_with("WIN") || n.starts_with("DOS")) && AllDigits(n.substr(3))) {
        return "CP" + std::string(n.substr(3));
    }
    if (n.starts_with("ISO8859_") && AllDigits(n.substr(8))) {
        return "ISO-8859-" + std::string(n.substr(8));
    }
    return {};
}

}  // namespace

std::string ScriptTextToUtf8(const std::string& text, const std::string& charSet) {
    const std::string codePage = CodePageOf(charSet);
    return codePage.empty() ? text : platform::DecodeToUtf8(text, codePage);
}

}  // namespace qm
