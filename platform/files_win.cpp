// The file probes over the Windows API. Paths are the program's UTF-8 text;
// they reach the system through its wide calls, so that a name in any script
// works whatever the system's code page.

#include <algorithm>
#include <cctype>
#include <random>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/platform.h"
#include "platform/win.h"

namespace qm::platform {

namespace {

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (valid()) ::CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }

private:
    HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring W(const std::string& path) { return WideFromUtf8(path); }

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(W(path).c_str()); }

// Opens an existing file (or directory) only to ask about it.
HANDLE OpenForQuery(const std::string& path) {
    return ::CreateFileW(W(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// 100-nanosecond ticks since 1601 as nanoseconds since 1970.
std::int64_t UnixNanoseconds(const FILETIME& ft) {
    const std::int64_t ticks =
        (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (ticks - 116444736000000000LL) * 100;
}

std::optional<std::string> ReadAll(HANDLE h) {
    if (::GetFileType(h) != FILE_TYPE_DISK) return std::nullopt;
    std::string out;
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) return std::nullopt;
        if (n == 0) return out;
        out.append(buf, n);
    }
}

std::optional<std::string> ReadShared(const std::string& path, DWORD share) {
    const DWORD attr = Attributes(path);
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    Handle h(::CreateFileW(W(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) return std::nullopt;
    return ReadAll(h.get());
}

// A temporary file of ours older than this was left by a writer that died;
// one still being written is open without sharing and cannot be removed.
constexpr std::int64_t kStaleTempSeconds = 5;

void RemoveStaleTemporaries(const std::string& target) {
    const std::string dir = ExtractFilePath(target);
    const std::string prefix = ExtractFileName(target) + kReplaceTempInfix;
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW(W(dir + prefix + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    FILETIME nowFt;
    ::GetSystemTimeAsFileTime(&nowFt);
    const std::int64_t now = UnixNanoseconds(nowFt);
    do {
        const std::string name = Utf8FromWide(found.cFileName);
        if (name.size() != prefix.size() + 6 || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (now - UnixNanoseconds(found.ftLastWriteTime) < kStaleTempSeconds * 1000000000LL)
            continue;
        ::DeleteFileW(W(dir + name).c_str());
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
}

std::string RandomSuffix() {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::string s;
    for (int i = 0; i < 6; ++i) s += kChars[rd() % (sizeof kChars - 1)];
    return s;
}

bool WriteAll(HANDLE h, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 20));
        DWORD n = 0;
        if (!::WriteFile(h, data.data() + done, chunk, &n, nullptr) || n == 0) return false;
        done += n;
    }
    return true;
}

}  // namespace

bool FileExists(const std::string& path) {
    const DWORD attr = Attributes(path);
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    const DWORD attr = Attributes(path);
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool DeleteFile(const std::string& path) { return ::DeleteFileW(W(path).c_str()) != 0; }

std::string ResolveSymbolicLinks(const std::string& path) {
    Handle h(OpenForQuery(path));
    if (!h.valid()) return path;
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n =
            ::GetFinalPathNameByHandleW(h.get(), buf.data(), static_cast<DWORD>(buf.size()), 0);
        if (n == 0) return path;
        if (n < buf.size()) {
            std::wstring w(buf.data(), n);
            if (w.rfind(L"\\\\?\\UNC\\", 0) == 0)
                w = L"\\" + w.substr(7);
            else if (w.rfind(L"\\\\?\\", 0) == 0)
                w = w.substr(4);
            return Utf8FromWide(w);
        }
        buf.resize(n + 1);
    }
}

bool IsWritableFile(const std::string& path) {
    const DWORD attr = Attributes(path);
    if (attr == INVALID_FILE_ATTRIBUTES ||
        (attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return false;
    Handle h(::CreateFileW(W(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    // A file that another process holds without sharing is still ours to
    // write later; only a refusal of access says no.
    return h.valid() || ::GetLastError() == ERROR_SHARING_VIOLATION;
}

bool IsWritableDirectory(const std::string& dir) {
    const std::string d = dir.empty() ? std::string(".\\") : dir;
    if (!DirectoryExists(d)) return false;
    std::string probe = d;
    if (!IsPathDelim(probe.back())) probe += '\\';
    probe += ".quillmoor-probe-" + RandomSuffix();
    Handle h(::CreateFileW(W(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return h.valid();
}

std::error_code RenameNoReplace(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the system refuses a taken name.
    if (::MoveFileExW(W(from).c_str(), W(to).c_str(), MOVEFILE_WRITE_THROUGH)) return {};
    const DWORD code = ::GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
        return std::make_error_code(std::errc::file_exists);
    return {static_cast<int>(code), std::system_category()};
}

ExclusiveFileLock::ExclusiveFileLock(const std::string& path) {
    const DWORD attr = Attributes(path);
    if (attr == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            status_ = Status::Missing;
        } else {
            error_ = {static_cast<int>(code), std::system_category()};
        }
        return;
    }
    if (attr & FILE_ATTRIBUTE_DIRECTORY) {
        status_ = Status::NotAFile;
        return;
    }
    // No sharing at all: refused while the engine (which opens its databases
    // for reading and writing) holds the file, and the engine is refused in
    // turn while we hold it.
    HANDLE h = ::CreateFileW(W(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
            status_ = Status::InUse;
        } else if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            status_ = Status::Missing;
        } else {
            error_ = {static_cast<int>(code), std::system_category()};
        }
        return;
    }
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        status_ = Status::NotAFile;
        return;
    }
    handle_ = h;
    status_ = Status::Held;
}

ExclusiveFileLock::~ExclusiveFileLock() {
    if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
}

FileIdentity ProbeFile(const std::string& path) {
    FileIdentity id;
    Handle h(OpenForQuery(path));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.valid() || !::GetFileInformationByHandle(h.get(), &info)) return id;
    id.exists = true;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    id.mtimeNs = UnixNanoseconds(info.ftLastWriteTime);
    return id;
}

bool TryExclusiveOpen(const std::string& path) {
    HANDLE h = ::CreateFileW(W(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

std::uint32_t VolumeBlockSize(const std::string& path) {
    // The volume's root: the drive of a path that names one ("C:\"), the
    // share of a network path, otherwise the volume of the current directory.
    std::string root;
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
        root = path.substr(0, 1) + ":\\";
    } else {
        std::vector<wchar_t> buf(MAX_PATH + 1);
        const std::string dir = ExtractFilePath(path);
        if (!::GetVolumePathNameW(W(dir.empty() ? "." : dir).c_str(), buf.data(),
                                  static_cast<DWORD>(buf.size())))
            return 0;
        root = Utf8FromWide(buf.data());
    }
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!::GetDiskFreeSpaceW(W(root).c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                             &totalClusters))
        return 0;
    return sectorsPerCluster * bytesPerSector;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    return ReadShared(path, kShareAll);
}

std::optional<std::string> ReadFileDenyWrite(const std::string& path) {
    // Sharing only reading: refused while a writer has the file open, and no
    // writer gets in while we read.
    return ReadShared(path, FILE_SHARE_READ);
}

bool ReplaceFileAtomically(const std::string& path, const std::string& content, unsigned mode,
                           ModeRule rule) {
    const std::string target = path;
    const DWORD old = Attributes(target);
    const bool exists = old != INVALID_FILE_ATTRIBUTES;
    if (exists && (old & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (exists) {
        Handle probe(OpenForQuery(target));
        if (!probe.valid() || ::GetFileType(probe.get()) != FILE_TYPE_DISK) return false;
    }
    RemoveStaleTemporaries(target);

    std::string tmp;
    HANDLE raw = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && raw == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = target + kReplaceTempInfix + RandomSuffix();
        // No sharing: no other writer takes it for a stale one while it lives.
        raw = ::CreateFileW(W(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (raw == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    Handle h(raw);
    if (!h.valid()) return false;
    const bool written = WriteAll(h.get(), content) && ::FlushFileBuffers(h.get());
    ::CloseHandle(h.release());
    // Windows keeps no permission bits; a version without the owner's write
    // bit is the read-only attribute.
    const bool readOnly = exists && rule == ModeRule::KeepExisting
                              ? (old & FILE_ATTRIBUTE_READONLY) != 0
                              : (mode & 0200) == 0;
    if (exists && (old & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(W(target).c_str(), old & ~FILE_ATTRIBUTE_READONLY);
    const bool ok = written && ::MoveFileExW(W(tmp).c_str(), W(target).c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        ::DeleteFileW(W(tmp).c_str());
        if (exists && (old & FILE_ATTRIBUTE_READONLY)) ::SetFileAttributesW(W(target).c_str(), old);
        return false;
    }
    if (readOnly) {
        const DWORD now = Attributes(target);
        if (now != INVALID_FILE_ATTRIBUTES)
            ::SetFileAttributesW(W(target).c_str(), now | FILE_ATTRIBUTE_READONLY);
    }
    return true;
}

}  // namespace qm::platform
