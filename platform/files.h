#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qm::platform {

bool FileExists(const std::string& path);       // an existing regular file
bool DirectoryExists(const std::string& path);  // an existing directory
// Removes a file; false when it is missing or cannot be removed.
bool DeleteFile(const std::string& path);

// What identifies one version of a file: a caller compares the identity before
// and after a run to learn whether the run created or changed the file.
struct FileIdentity {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity ProbeFile(const std::string& path);

// True when the existing file can be opened for reading and writing and no
// other process holds a lock on it (an exclusive, non-blocking flock).
bool TryExclusiveOpen(const std::string& path);

// Block size of the file system that holds the directory of the path; 0 when
// it cannot be read.
std::uint32_t VolumeBlockSize(const std::string& path);

// Reads a whole file; nothing when it is missing or unreadable.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Reads a whole file under a shared, non-blocking lock, so that a writer
// holding an exclusive lock makes the read fail instead of waiting.
std::optional<std::string> ReadFileDenyWrite(const std::string& path);

// Replaces the file with the content so that a reader or a crash sees either
// the old file or the new one, never a part: the content goes to a temporary
// file in the same directory, is flushed, and is renamed over the target.
// A new file gets the permission bits of mode (subject to the umask); an
// existing file keeps its own. False when any step fails; the old file is then
// untouched.
bool ReplaceFileAtomically(const std::string& path, const std::string& content,
                           unsigned mode = 0666);

}  // namespace qm::platform
