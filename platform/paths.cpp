#include "platform/paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"

namespace qm::platform {

std::string ExecutablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

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
