#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/local_time.h"

// The operating-system seam of the auto-archiving service: files it writes
// itself, locks between its processes, and the few facts of the machine it
// asks for. system_posix.cpp serves Linux, system_win.cpp Windows. Texts are
// UTF-8 in memory on both; paths are converted where the system takes them.
namespace qm::archiver {

using platform::LocalTime;
// The local time of an instant as strftime writes it with the format.
std::string LocalTimeText(std::time_t t, const char* format);

// The path as std::filesystem takes it (UTF-8 on both systems).
std::filesystem::path FsPath(const std::string& path);
// The path as UTF-8 text.
std::string PathText(const std::filesystem::path& path);

// A file the service reads or writes itself (the ZIP and its source).
// Never throws; every call reports success.
class TFile {
public:
    TFile() = default;
    ~TFile();
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    bool OpenRead(const std::string& path);
    // A new file: refused when anything stands at the path.
    bool CreateNew(const std::string& path);
    bool IsOpen() const;
    void Close();

    // Up to size bytes; the count read, 0 at the end, -1 on error.
    long long Read(void* buffer, std::size_t size);
    // All of the bytes, at the current position or at an offset.
    bool Write(const void* data, std::size_t size);
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    // Moves the position of the next Read or Write.
    bool Seek(std::uint64_t offset);
    // The file's content reaches the disk.
    bool Sync();
    std::optional<std::uint64_t> Size() const;
    // Drops the file's pages from the system's cache, so that the next read
    // comes from the disk; nothing where the system offers no such call.
    void DropCache();
    // The system's text for the last failure.
    const std::string& Error() const { return error_; }

private:
    void Fail();
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    std::string error_;
};

// An advisory lock between processes on a file of its own, created when
// missing. The lock goes with the object (and with the process).
class TLockFile {
public:
    explicit TLockFile(std::string path);
    ~TLockFile();
    TLockFile(const TLockFile&) = delete;
    TLockFile& operator=(const TLockFile&) = delete;

    // Never waits: false when another process holds the lock or the file
    // cannot be opened.
    bool TryLock();
    // Waits for the lock, asking keepWaiting about every 200 ms; false when
    // it answers false or the file cannot be opened.
    bool Lock(const std::function<bool()>& keepWaiting);
    void Unlock();
    bool Held() const { return held_; }
    // False when the lock file could not be opened or made (a directory the
    // process may not write, for one).
    bool Opened() const;
    const std::string& Path() const { return path_; }

private:
    bool Open();
    std::string path_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    bool held_ = false;
};

// Appends the bytes to the file (created when missing) under an exclusive
// lock that is held only while they are written, so that a reader that takes
// the shared lock (or, on Windows, opens the file denying writers) sees whole
// lines. When the file has reached rotateAt bytes, it is first renamed to
// rotatedPath (replacing an older one) and a new file is begun. Waits up to
// about two seconds for a reader to let go. False when nothing was written.
bool AppendLocked(const std::string& path, const std::string& bytes, std::uint64_t rotateAt,
                  const std::string& rotatedPath);

// The local endpoints ("address/port", as the server's monitoring tables
// write a remote address) of this process's TCP connections to the port.
std::vector<std::string> LocalEndpointsTo(int port);

// Whether the named user may create and rename files in the directory:
// nothing when the system cannot tell (no such user, or a system where the
// question is not asked).
std::optional<bool> UserMayWriteDirectory(const std::string& user, const std::string& dir);

// Gives the file the owner and permission bits of another, where the system
// has them; best effort.
void CopyOwnerAndMode(const std::string& from, const std::string& to);

// Sets the process's locale from the environment, with UTF-8 text where the
// environment gives none (a service started by systemd may have no locale):
// the client library converts file names from the locale's character set,
// and the register's paths are UTF-8. On Windows: the console shows UTF-8.
void UseSystemLocale();

// The user the Firebird server of this machine runs as, for the set-up
// check: "firebird" on Linux; "" where the server runs as the system.
std::string ServerUserName();

}  // namespace qm::archiver
