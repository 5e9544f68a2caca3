#ifndef _WIN32

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <langinfo.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstring>
#include <thread>

#include "archiver/system.h"
#include "platform/posix_fd.h"

namespace qm::archiver {

namespace {

std::string ErrnoText() { return std::strerror(errno); }

using platform::Fd;

bool WriteAllFd(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

}  // namespace

std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(path); }
std::string PathText(const std::filesystem::path& path) { return path.string(); }

TFile::~TFile() { Close(); }

void TFile::Fail() { error_ = ErrnoText(); }

bool TFile::OpenRead(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) Fail();
    return fd_ >= 0;
}

bool TFile::CreateNew(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) Fail();
    return fd_ >= 0;
}

bool TFile::IsOpen() const { return fd_ >= 0; }

void TFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

long long TFile::Read(void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0) return n;
        if (errno != EINTR) {
            Fail();
            return -1;
        }
    }
}

bool TFile::Write(const void* data, std::size_t size) {
    if (WriteAllFd(fd_, static_cast<const char*>(data), size)) return true;
    Fail();
    return false;
}

bool TFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t w = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (w < 0) {
            if (errno == EINTR) continue;
            Fail();
            return false;
        }
        p += w;
        size -= static_cast<std::size_t>(w);
        offset += static_cast<std::uint64_t>(w);
    }
    return true;
}

bool TFile::Seek(std::uint64_t offset) {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0) return true;
    Fail();
    return false;
}

bool TFile::Sync() {
    if (::fsync(fd_) == 0) return true;
    Fail();
    return false;
}

std::optional<std::uint64_t> TFile::Size() const {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

void TFile::DropCache() {
#ifdef POSIX_FADV_DONTNEED
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
#endif
}

TLockFile::TLockFile(std::string path) : path_(std::move(path)) {}

TLockFile::~TLockFile() {
    Unlock();
    if (fd_ >= 0) ::close(fd_);
}

bool TLockFile::Open() {
    if (fd_ < 0) fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool TLockFile::Opened() const { return fd_ >= 0; }

bool TLockFile::TryLock() {
    if (held_) return true;
    if (!Open()) return false;
    held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
    return held_;
}

bool TLockFile::Lock(const std::function<bool()>& keepWaiting) {
    while (!TryLock()) {
        if (fd_ < 0 || !keepWaiting()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

void TLockFile::Unlock() {
    if (held_) ::flock(fd_, LOCK_UN);
    held_ = false;
}

bool AppendLocked(const std::string& path, const std::string& bytes, std::uint64_t rotateAt,
                  const std::string& rotatedPath) {
    // The file the path names may be renamed away by another writer between
    // the open and the lock; the lock counts only on the file still there.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        if (fd.get() < 0) return false;
        const bool locked = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
        if (!locked && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        struct stat open {
        }, named{};
        if (::fstat(fd.get(), &open) != 0) return false;
        if (::stat(path.c_str(), &named) != 0 || named.st_ino != open.st_ino ||
            named.st_dev != open.st_dev) {
            if (std::chrono::steady_clock::now() < deadline) continue;
        }
        if (locked && rotateAt > 0 && static_cast<std::uint64_t>(open.st_size) >= rotateAt &&
            ::rename(path.c_str(), rotatedPath.c_str()) == 0) {
            continue;  // the lines go to the new file
        }
        // A reader that never lets go does not silence the service: past the
        // wait the line is written all the same.
        return WriteAllFd(fd.get(), bytes.data(), bytes.size());
    }
}

std::vector<std::string> LocalEndpointsTo(int port) {
    std::vector<std::string> out;
    DIR* d = ::opendir("/proc/self/fd");
    if (d == nullptr) return out;
    std::vector<int> fds;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] >= '0' && e->d_name[0] <= '9') fds.push_back(std::atoi(e->d_name));
    }
    ::closedir(d);
    for (int fd : fds) {
        sockaddr_storage peer{}, local{};
        socklen_t pl = sizeof peer, ll = sizeof local;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &ll) != 0) continue;
        char text[INET6_ADDRSTRLEN] = {0};
        int peerPort = 0, localPort = 0;
        if (peer.ss_family == AF_INET && local.ss_family == AF_INET) {
            peerPort = ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
            const auto* l = reinterpret_cast<sockaddr_in*>(&local);
            localPort = ntohs(l->sin_port);
            ::inet_ntop(AF_INET, &l->sin_addr, text, sizeof text);
        } else if (peer.ss_family == AF_INET6 && local.ss_family == AF_INET6) {
            peerPort = ntohs(reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port);
            const auto* l = reinterpret_cast<sockaddr_in6*>(&local);
            localPort = ntohs(l->sin6_port);
            ::inet_ntop(AF_INET6, &l->sin6_addr, text, sizeof text);
        } else {
            continue;
        }
        if (peerPort == port) out.push_back(std::string(text) + "/" + std::to_string(localPort));
    }
    return out;
}

std::optional<bool> UserMayWriteDirectory(const std::string& user, const std::string& dir) {
    passwd pw{};
    passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwnam_r(user.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (pw.pw_uid == 0) return true;
    // Write and search rights on the directory: by owner, by a group of the
    // user, or by everybody (access control lists are not read).
    if (st.st_uid == pw.pw_uid) return (st.st_mode & S_IWUSR) && (st.st_mode & S_IXUSR);
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(user.c_str(), pw.pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        ::getgrouplist(user.c_str(), pw.pw_gid, groups.data(), &count);
    }
    groups.resize(static_cast<std::size_t>(count));
    for (gid_t g : groups) {
        if (g == st.st_gid) return (st.st_mode & S_IWGRP) && (st.st_mode & S_IXGRP);
    }
    return (st.st_mode & S_IWOTH) && (st.st_mode & S_IXOTH);
}

void CopyOwnerAndMode(const std::string& from, const std::string& to) {
    struct stat st;
    if (::stat(from.c_str(), &st) != 0) return;
    if (::chown(to.c_str(), st.st_uid, st.st_gid) != 0) {
        // Only root may give a file away; the file then stays ours.
    }
    ::chmod(to.c_str(), st.st_mode & 07777);
}

std::string ServerUserName() { return "firebird"; }

void UseSystemLocale() {
    std::setlocale(LC_ALL, "");
    const char* codeset = ::nl_langinfo(CODESET);
    if (codeset == nullptr ||
        (std::strcmp(codeset, "UTF-8") != 0 && std::strcmp(codeset, "utf8") != 0))
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace qm::archiver

#endif  // _WIN32
