#pragma once

// Facts of the operating system that the layers above name in one place.
namespace qm::platform {

#ifdef _WIN32
inline constexpr char kPathDelim = '\\';
inline constexpr const char* kDefaultClientLibrary = "gds32.dll";
inline constexpr const char* kServiceExecutable = "QuillmoorService.exe";
#else
inline constexpr char kPathDelim = '/';
inline constexpr const char* kDefaultClientLibrary = "libfbclient.so.2";
inline constexpr const char* kServiceExecutable = "QuillmoorService";
#endif

// True for a character that ends the directory part of a path.
constexpr bool IsPathDelim(char c) {
#ifdef _WIN32
    return c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

}  // namespace qm::platform
