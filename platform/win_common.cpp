#include "platform/win.h"

namespace qm::platform {

std::string SystemErrorText(unsigned long code) {
    // The wide text: the program's text is UTF-8, the 8-bit one would be in
    // the code page of the system's language.
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = n > 0 && buffer != nullptr ? Utf8FromWide({buffer, n}) : std::string();
    if (buffer != nullptr) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

namespace {

std::wstring Widen(std::string_view text, unsigned codePage, DWORD flags) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), n);
    return wide;
}

}  // namespace

std::wstring Widen(std::string_view text, unsigned codePage) { return Widen(text, codePage, 0); }

std::string Narrow(std::wstring_view wide, unsigned codePage) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::optional<std::wstring> WideFromValidUtf8(std::string_view utf8) {
    if (utf8.empty()) return std::wstring();
    std::wstring wide = Widen(utf8, CP_UTF8, MB_ERR_INVALID_CHARS);
    if (wide.empty()) return std::nullopt;
    return wide;
}

}  // namespace qm::platform
