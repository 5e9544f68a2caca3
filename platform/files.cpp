#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/paths.h"

namespace qm::platform {

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }

private:
    int fd_;
};

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

std::optional<std::string> ReadWholeFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    return ReadAll(fd.get());
}

std::optional<std::string> ReadFileDenyWrite(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return std::nullopt;
    return ReadAll(fd.get());
}

bool ReplaceFileAtomically(const std::string& path, const std::string& content, unsigned mode) {
    std::string tmpl = path + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    Fd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0) return false;
    const std::string tmp(name.data());

    struct stat st;
    mode_t perm;
    if (::stat(path.c_str(), &st) == 0) {
        perm = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        perm = static_cast<mode_t>(mode) & ~mask & 07777;
    }
    bool ok =
        ::fchmod(fd.get(), perm) == 0 && WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0;
    ok = (::close(fd.release()) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    // The rename is only durable once the directory entry is on disk too.
    std::string dir = ExtractFilePath(path);
    Fd dfd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd.get() >= 0) ::fsync(dfd.get());
    return true;
}

}  // namespace qm::platform
