#include "platform/exe_version.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/version.h"

namespace qm::platform {

std::optional<std::array<unsigned, 4>> ExecutableFileVersion(const std::string& path) {
    FileIdentity self = ProbeFile(ExecutablePath());
    FileIdentity other = ProbeFile(path);
    if (!self.exists || !other.exists || self.device != other.device || self.inode != other.inode)
        return std::nullopt;
    return std::array<unsigned, 4>{kVersion[0], kVersion[1], kVersion[2], kVersion[3]};
}

}  // namespace qm::platform
