#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

// windows.h names DeleteFile as a macro of its own.
#ifdef DeleteFile
#undef DeleteFile
#endif

namespace qm::platform {

bool FileExists(const std::string& path);       // an existing regular file
bool DirectoryExists(const std::string& path);  // an existing directory
// True when anything stands at the path: a file, a directory, or a symbolic
// link, even one whose target is missing.
bool PathExists(const std::string& path);
// Removes a file; false when it is missing or cannot be removed.
bool DeleteFile(const std::string& path);

// The absolute path of what an existing path names, every symbolic link on the
// way followed; the path unchanged when nothing is there or it cannot be
// resolved (a link whose target is missing, a loop).
std::string ResolveSymbolicLinks(const std::string& path);

// True when this process may write to the existing file.
bool IsWritableFile(const std::string& path);
// True when this process may create, rename and remove files in the existing
// directory; "" is the current directory.
bool IsWritableDirectory(const std::string& dir);

// Renames a file, but never over another: when anything stands at `to` the
// call fails with std::errc::file_exists and both stay as they were. Returns
// the system's reason on failure, an empty code on success.
std::error_code RenameNoReplace(const std::string& from, const std::string& to);

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

// An exclusive lock on an existing regular file, held until the object goes.
// It is the kind of lock the Firebird engine holds on every database file it
// has open, so it is refused while any process, this one included, has the
// database attached, and an engine that opens the file while the lock is held
// fails in turn. Opening never waits (a named pipe at the path is refused, not
// waited on). Never throws; GetStatus() tells how the attempt ended.
class ExclusiveFileLock {
public:
    enum class Status {
        Held,      // the lock is held
        Missing,   // nothing at the path (or a link to nothing): nothing to lock
        NotAFile,  // a directory, a pipe, a device
        InUse,     // another holder has the file locked
        Failed,    // the file could not be opened; Error() tells why
    };

    explicit ExclusiveFileLock(const std::string& path);
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock&) = delete;
    ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

    Status GetStatus() const { return status_; }
    bool Held() const { return status_ == Status::Held; }
    // The system's reason when the status is Failed.
    std::error_code Error() const { return error_; }

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    Status status_ = Status::Failed;
    std::error_code error_;
};

// Block size of the file system that holds the directory of the path; 0 when
// it cannot be read.
std::uint32_t VolumeBlockSize(const std::string& path);

// Reads a whole file; nothing when it is missing, unreadable or not a regular
// file (a named pipe at the path is never waited on).
std::optional<std::string> ReadWholeFile(const std::string& path);

// Reads a whole file under a shared, non-blocking lock, so that a writer
// holding an exclusive lock makes the read fail instead of waiting. Nothing,
// as ReadWholeFile, for anything but a readable regular file.
std::optional<std::string> ReadFileDenyWrite(const std::string& path);

// How ReplaceFileAtomically sets the permission bits of the new version.
enum class ModeRule {
    KeepExisting,  // those of the file it replaces; `mode` for a new file
    Exactly,       // `mode`, whatever the replaced file had
};

// Replaces the file with the content so that a reader or a crash sees either
// the old file or the new one, never a part: the content goes to a temporary
// file in the same directory, is flushed, and is renamed over the target.
// - A symbolic link at the path is followed: the file it leads to (made if the
//   link dangles) is replaced and the link stays.
// - The new version keeps the owner and group of the file it replaces where
//   the system allows it (always for root); a new file that root makes in a
//   directory of another user belongs to that user.
// - Its permission bits follow `rule`, exactly as given: the umask plays no
//   part.
// - Temporary files that earlier replaces of the same file left behind (a
//   writer killed half-way) are removed first; one still being written by a
//   live writer is left alone.
// False when any step fails, or when something other than a regular file
// stands at the path (a directory, a named pipe, a device); the old file is
// then untouched.
bool ReplaceFileAtomically(const std::string& path, const std::string& content,
                           unsigned mode = 0644, ModeRule rule = ModeRule::KeepExisting);

// The temporary files of ReplaceFileAtomically are named after the file they
// will replace: its name, this infix and six random characters.
inline constexpr const char* kReplaceTempInfix = ".save-";

}  // namespace qm::platform
