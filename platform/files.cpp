#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/paths.h"
#include "platform/posix_fd.h"

namespace qm::platform {

namespace {

std::optional<std::string> ReadAll(int fd) {
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) return out;
        out.append(buf, static_cast<size_t>(n));
    }
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string ResolveSymbolicLinks(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                           &std::free);
    return real ? std::string(real.get()) : path;
}

bool IsWritableFile(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool IsWritableDirectory(const std::string& dir) {
    return ::access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) == 0;
}

std::error_code RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return {errno, std::generic_category()};
    // A file system without the flag: a link fails just as well when the name
    // is taken.
    if (::link(from.c_str(), to.c_str()) != 0) return {errno, std::generic_category()};
    ::unlink(from.c_str());
    return {};
}

ExclusiveFileLock::ExclusiveFileLock(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ < 0) {
        const int code = errno;
        status_ = code == ENOENT ? Status::Missing : Status::Failed;
        if (code != ENOENT) error_ = {code, std::generic_category()};
        return;
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        status_ = Status::NotAFile;
    } else if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        status_ = Status::InUse;
    } else {
        status_ = Status::Held;
    }
}

ExclusiveFileLock::~ExclusiveFileLock() {
    if (fd_ >= 0) ::close(fd_);
}

FileIdentity ProbeFile(const std::string& path) {
    FileIdentity id;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return id;
    id.exists = true;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::uint64_t>(st.st_size);
    id.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

bool TryExclusiveOpen(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0) return false;
    return ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

std::uint32_t VolumeBlockSize(const std::string& path) {
    const std::string dir = ExtractFilePath(path);
    struct statvfs vfs;
    if (::statvfs(dir.empty() ? "." : dir.c_str(), &vfs) != 0) return 0;
    return static_cast<std::uint32_t>(vfs.f_bsize);
}

namespace {

// Opens an existing regular file for reading; -1 for anything else. Opening
// never waits: a named pipe without a writer would block a plain open.
int OpenRegularForReading(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return -1;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return -1;
    return fd.release();
}

// The path that a chain of symbolic links at `path` ends in: the first name
// on the way that is not a link (or names nothing). The path itself when it
// is no link, or when the chain is too long to be anything but a loop.
std::string FinalPath(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return path;
        const std::string next(target.data(), static_cast<std::size_t>(n));
        current = next.front() == '/' ? next : ExtractFilePath(current) + next;
    }
    return path;
}

// A temporary file of ours older than this, which no writer holds locked, was
// left by a writer that died. The age covers the moment between its making
// and its locking.
constexpr time_t kStaleTempSeconds = 5;

void RemoveStaleTemporaries(const std::string& target) {
    const std::string dir = ExtractFilePath(target);
    const std::string prefix = ExtractFileName(target) + kReplaceTempInfix;
    struct CloseDir {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    const std::unique_ptr<DIR, CloseDir> d(::opendir(dir.empty() ? "." : dir.c_str()));
    if (!d) return;
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(d.get())) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string path = dir + name;
        Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (st.st_uid != ::geteuid() && ::geteuid() != 0) continue;
        if (now - st.st_mtime < kStaleTempSeconds) continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        ::unlink(path.c_str());
    }
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
    Fd fd(OpenRegularForReading(path));
    if (fd.get() < 0) return std::nullopt;
    return ReadAll(fd.get());
}

std::optional<std::string> ReadFileDenyWrite(const std::string& path) {
    Fd fd(OpenRegularForReading(path));
    if (fd.get() < 0) return std::nullopt;
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return std::nullopt;
    return ReadAll(fd.get());
}

bool ReplaceFileAtomically(const std::string& path, const std::string& content, unsigned mode,
                           ModeRule rule) {
    const std::string target = FinalPath(path);
    struct stat old;
    const bool exists = ::lstat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return false;
    RemoveStaleTemporaries(target);

    std::string tmpl = target + kReplaceTempInfix + "XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    Fd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0) return false;
    const std::string tmp(name.data());
    // Held until the rename, so that no other writer takes the file for a
    // stale one.
    ::flock(fd.get(), LOCK_EX | LOCK_NB);

    // The owner first: a change of owner clears the set-id bits.
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    if (exists) {
        uid = old.st_uid;
        gid = old.st_gid;
    } else if (::geteuid() == 0) {
        const std::string dir = ExtractFilePath(target);
        struct stat d;
        if (::stat(dir.empty() ? "." : dir.c_str(), &d) == 0 && d.st_uid != 0) {
            uid = d.st_uid;
            gid = d.st_gid;
        }
    }
    // Without the right to give the file away, the group may still be kept.
    if ((uid != static_cast<uid_t>(-1) || gid != static_cast<gid_t>(-1)) &&
        ::fchown(fd.get(), uid, gid) != 0)
        (void)::fchown(fd.get(), static_cast<uid_t>(-1), gid);
    const mode_t perm = static_cast<mode_t>(
        (exists && rule == ModeRule::KeepExisting ? old.st_mode : mode) & 07777);

    const bool ok = ::fchmod(fd.get(), perm) == 0 && WriteAll(fd.get(), content) &&
                    ::fsync(fd.get()) == 0 && ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    ::close(fd.release());
    // The rename is only durable once the directory entry is on disk too.
    const std::string dir = ExtractFilePath(target);
    Fd dfd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd.get() >= 0) ::fsync(dfd.get());
    return true;
}

}  // namespace qm::platform
