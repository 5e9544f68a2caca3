#include <vector>

#include "platform/exe_version.h"
#include "platform/win.h"

namespace qm::platform {

std::optional<std::array<unsigned, 4>> ExecutableFileVersion(const std::string& path) {
    const std::wstring file = WideFromUtf8(path);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return std::nullopt;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\", &value, &length) || value == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    return std::array<unsigned, 4>{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                                   HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
}

}  // namespace qm::platform
