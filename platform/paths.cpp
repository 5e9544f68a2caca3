#include "platform/paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"
#ifdef _WIN32
#include "platform/win.h"
#endif

namespace qm::platform {

#ifdef _WIN32
std::string ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return Utf8FromWide(buffer.substr(0, n));
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}
#else
std::string ExecutablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}
#endif

std::string ExecutableDir() {
    std::string dir = ExtractFilePath(ExecutablePath());
    return dir.empty() ? std::string(1, kPathDelim) : dir;
}

std::string DataDir() {
    const char* v = std::getenv(kDataDirVariable);
    if (v == nullptr || *v == '\0') return ExecutableDir();
    std::string dir = v;
    if (!IsPathDelim(dir.back())) dir += kPathDelim;
    return dir;
}

std::string ExtractFilePath(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (IsPathDelim(path[i - 1])) return path.substr(0, i);
    return {};
}

std::string ExtractFileName(const std::string& path) {
    return path.substr(ExtractFilePath(path).size());
}

}  // namespace qm::platform
