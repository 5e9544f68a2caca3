#ifdef _WIN32

// The Windows half of the service's system seam. Texts are UTF-8 in memory;
// paths go to the wide-character calls, the event log is written in the ANSI
// code page, as the manager reads it.

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include "platform/win.h"  // after winsock2.h, which must come before windows.h
#include <iphlpapi.h>
// clang-format on

#include <chrono>
#include <thread>

#include "archiver/system.h"

namespace qm::archiver {

namespace {

using platform::Narrow;

std::wstring Wide(const std::string& utf8) { return platform::WideFromUtf8(utf8); }

std::string LastErrorText() {
    const DWORD code = ::GetLastError();
    const std::string text = platform::SystemErrorText(code);
    return text.empty() ? "error " + std::to_string(code) : text;
}

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

bool WriteAllHandle(HANDLE h, const char* p, std::size_t n) {
    while (n > 0) {
        DWORD chunk = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
        DWORD written = 0;
        if (!::WriteFile(h, p, chunk, &written, nullptr)) return false;
        p += written;
        n -= written;
    }
    return true;
}

}  // namespace

std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(Wide(path)); }
std::string PathText(const std::filesystem::path& path) { return Narrow(path.wstring(), CP_UTF8); }

TFile::~TFile() { Close(); }

void TFile::Fail() { error_ = LastErrorText(); }

bool TFile::OpenRead(const std::string& path) {
    Close();
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Fail();
        return false;
    }
    handle_ = h;
    return true;
}

bool TFile::CreateNew(const std::string& path) {
    Close();
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Fail();
        return false;
    }
    handle_ = h;
    return true;
}

bool TFile::IsOpen() const { return handle_ != nullptr; }

void TFile::Close() {
    if (handle_ != nullptr) ::CloseHandle(H(handle_));
    handle_ = nullptr;
}

long long TFile::Read(void* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(H(handle_), buffer, want, &got, nullptr)) {
        Fail();
        return -1;
    }
    return got;
}

bool TFile::Write(const void* data, std::size_t size) {
    if (WriteAllHandle(H(handle_), static_cast<const char*>(data), size)) return true;
    Fail();
    return false;
}

bool TFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    LARGE_INTEGER here{}, zero{}, at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(H(handle_), zero, &here, FILE_CURRENT) ||
        !::SetFilePointerEx(H(handle_), at, nullptr, FILE_BEGIN)) {
        Fail();
        return false;
    }
    const bool ok = WriteAllHandle(H(handle_), static_cast<const char*>(data), size);
    if (!ok) Fail();
    ::SetFilePointerEx(H(handle_), here, nullptr, FILE_BEGIN);
    return ok;
}

bool TFile::Seek(std::uint64_t offset) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (::SetFilePointerEx(H(handle_), at, nullptr, FILE_BEGIN)) return true;
    Fail();
    return false;
}

bool TFile::Sync() {
    if (::FlushFileBuffers(H(handle_))) return true;
    Fail();
    return false;
}

std::optional<std::uint64_t> TFile::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(H(handle_), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

// Windows offers no call that drops one file's cached pages; the read-back
// then may come from the cache.
void TFile::DropCache() {}

TLockFile::TLockFile(std::string path) : path_(std::move(path)) {}

TLockFile::~TLockFile() {
    Unlock();
    if (handle_ != nullptr) ::CloseHandle(H(handle_));
}

bool TLockFile::Open() {
    if (handle_ != nullptr) return true;
    HANDLE h = ::CreateFileW(Wide(path_).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = h;
    return true;
}

bool TLockFile::Opened() const { return handle_ != nullptr; }

bool TLockFile::TryLock() {
    if (held_) return true;
    if (!Open()) return false;
    OVERLAPPED o{};
    held_ = ::LockFileEx(H(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                         &o) != 0;
    return held_;
}

bool TLockFile::Lock(const std::function<bool()>& keepWaiting) {
    while (!TryLock()) {
        if (handle_ == nullptr || !keepWaiting()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

void TLockFile::Unlock() {
    if (held_) {
        OVERLAPPED o{};
        ::UnlockFileEx(H(handle_), 0, 1, 0, &o);
    }
    held_ = false;
}

bool AppendLocked(const std::string& path, const std::string& bytes, std::uint64_t rotateAt,
                  const std::string& rotatedPath) {
    // The manager opens the log denying writers; while it reads, the open
    // here fails, and the service waits for it. Opened without write sharing,
    // the log also keeps the manager out while a line is being written.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    const std::wstring wpath = Wide(path);
    for (;;) {
        HANDLE h = ::CreateFileW(wpath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_SHARING_VIOLATION &&
                std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            return false;
        }
        LARGE_INTEGER size{};
        if (rotateAt > 0 && ::GetFileSizeEx(h, &size) &&
            static_cast<std::uint64_t>(size.QuadPart) >= rotateAt) {
            ::CloseHandle(h);
            if (::MoveFileExW(wpath.c_str(), Wide(rotatedPath).c_str(), MOVEFILE_REPLACE_EXISTING))
                continue;
            h = ::CreateFileW(wpath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) return false;
        }
        const bool ok = WriteAllHandle(h, bytes.data(), bytes.size());
        ::CloseHandle(h);
        return ok;
    }
}

std::vector<std::string> LocalEndpointsTo(int port) {
    std::vector<std::string> out;
    ULONG size = 0;
    ::GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    std::vector<unsigned char> buf(size + 4096);
    size = static_cast<ULONG>(buf.size());
    if (::GetExtendedTcpTable(buf.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS,
                              0) != NO_ERROR)
        return out;
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buf.data());
    const DWORD self = ::GetCurrentProcessId();
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& row = table->table[i];
        if (row.dwOwningPid != self || ntohs(static_cast<u_short>(row.dwRemotePort)) != port)
            continue;
        in_addr a{};
        a.s_addr = row.dwLocalAddr;
        char text[INET_ADDRSTRLEN] = {0};
        ::inet_ntop(AF_INET, &a, text, sizeof text);
        out.push_back(std::string(text) + "/" +
                      std::to_string(ntohs(static_cast<u_short>(row.dwLocalPort))));
    }
    return out;
}

// The Firebird server of a Windows machine runs as the system, which may
// write everywhere the service may.
std::optional<bool> UserMayWriteDirectory(const std::string&, const std::string&) {
    return std::nullopt;
}

void CopyOwnerAndMode(const std::string&, const std::string&) {}

std::string ServerUserName() { return {}; }

// The commands print UTF-8 text.
void UseSystemLocale() { ::SetConsoleOutputCP(CP_UTF8); }

}  // namespace qm::archiver

#endif  // _WIN32
