#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace qm::platform {

std::string DecodeToUtf8(std::string_view text, const std::string& encoding) {
    iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    // iconv's interface takes the input as char** though it never writes it.
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* to = buffer;
        std::size_t toLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &in, &inLeft, &to, &toLeft);
        out.append(buffer, static_cast<std::size_t>(to - buffer));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An undefined byte, or a sequence cut off at the end.
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
        }
    }
    // The closing sequence of an encoding with shift states.
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &to, &toLeft);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    iconv_close(cd);
    return out;
}

std::string Utf8ToSystem8Bit(std::string_view utf8) { return std::string(utf8); }

std::string System8BitToUtf8(std::string_view text) { return std::string(text); }

}  // namespace qm::platform
