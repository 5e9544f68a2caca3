#pragma once

#include <array>
#include <optional>
#include <string>

namespace qm::platform {

// The file version of an executable as four numbers (major, minor, release,
// build); nothing when the file carries none. Linux executables carry no
// version resource: the program's own executable reports the version it was
// built with, any other file none.
std::optional<std::array<unsigned, 4>> ExecutableFileVersion(const std::string& path);

}  // namespace qm::platform
