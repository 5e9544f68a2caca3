#pragma once

#include <string>

namespace qm::platform {

// Environment variable that moves the settings file, the list file and the
// service's event log away from the executable's directory.
inline constexpr const char* kDataDirVariable = "QUILLMOOR_DATA_DIR";

// Full path of the running executable; empty when the system cannot tell.
std::string ExecutablePath();

// Directory of the running executable, ending with the path delimiter.
std::string ExecutableDir();

// Directory of the program's own files: the value of QUILLMOOR_DATA_DIR when it
// is set and not empty, otherwise ExecutableDir(). Always ends with the path
// delimiter. Read anew on every call.
std::string DataDir();

// The directory part of a path including its last delimiter ("" when none).
std::string ExtractFilePath(const std::string& path);

// The part of a path after its last delimiter.
std::string ExtractFileName(const std::string& path);

}  // namespace qm::platform
