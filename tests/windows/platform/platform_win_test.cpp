#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/dynlib.h"
#include "platform/exe_version.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "tests/support/temp_dir.h"

namespace qm::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A handle such as the Firebird server holds on a database it serves: open
// for reading and writing, sharing both.
class HeldLikeTheServer {
public:
    explicit HeldLikeTheServer(const std::string& path,
                               DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE)
        : h_(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldLikeTheServer() {
        if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
    }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

TEST(WindowsLibraries, LoadFailureCarriesTheSystemsCodeAndText) {
    LibraryError err;
    EXPECT_EQ(OpenLibrary("Z:\\no\\such\\fbclient.dll", &err), nullptr);
    EXPECT_EQ(err.code, ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(err.text.empty());
    EXPECT_NE(err.text.back(), '\n');

    void* kernel = OpenLibrary("kernel32.dll", nullptr);
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(FindSymbol(kernel, "GetTickCount"), nullptr);
    LibraryError missing;
    EXPECT_EQ(FindSymbol(kernel, "isc_attach_database", &missing), nullptr);
    EXPECT_EQ(missing.code, ERROR_PROC_NOT_FOUND);
    CloseLibrary(kernel);
}

TEST(WindowsFiles, TheExclusiveProbeAndLockRefuseAFileTheServerHolds) {
    TempDir dir;
    const std::string db = dir.File("base.fdb");
    EXPECT_FALSE(TryExclusiveOpen(db));  // missing
    WriteFile(db, "pages");
    EXPECT_TRUE(TryExclusiveOpen(db));
    {
        HeldLikeTheServer server(db);
        ASSERT_TRUE(server.Valid());
        EXPECT_FALSE(TryExclusiveOpen(db));
        EXPECT_EQ(ExclusiveFileLock(db).GetStatus(), ExclusiveFileLock::Status::InUse);
    }
    {
        ExclusiveFileLock lock(db);
        ASSERT_TRUE(lock.Held());
        // The server cannot open what we hold, nor can a second lock.
        EXPECT_FALSE(HeldLikeTheServer(db).Valid());
        EXPECT_EQ(ExclusiveFileLock(db).GetStatus(), ExclusiveFileLock::Status::InUse);
    }
    EXPECT_TRUE(TryExclusiveOpen(db));
    EXPECT_EQ(ExclusiveFileLock(dir.File("none.fdb")).GetStatus(),
              ExclusiveFileLock::Status::Missing);
    EXPECT_EQ(ExclusiveFileLock(dir.Path()).GetStatus(), ExclusiveFileLock::Status::NotAFile);
}

TEST(WindowsFiles, VolumeGeometryOfTheDrive) {
    TempDir dir;
    const std::string path = dir.File("base.fdb");
    ASSERT_EQ(path[1], ':');
    DWORD sectors = 0, bytes = 0, freeClusters = 0, total = 0;
    const std::string root = path.substr(0, 1) + ":\\";
    ASSERT_TRUE(::GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &freeClusters, &total));
    EXPECT_EQ(VolumeBlockSize(path), sectors * bytes);
    EXPECT_GT(VolumeBlockSize(path), 0u);
    EXPECT_EQ(VolumeBlockSize("Q:\\no\\such\\drive.fdb"), 0u);
}

TEST(WindowsFiles, RenameNeverReplacesAndProbesSeeTheChange) {
    TempDir dir;
    const std::string a = dir.File("a.fbk"), b = dir.File("b.fbk");
    WriteFile(a, "new");
    WriteFile(b, "old");
    const FileIdentity before = ProbeFile(b);
    EXPECT_TRUE(before.exists);
    EXPECT_EQ(before.size, 3u);
    EXPECT_EQ(RenameNoReplace(a, b), std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(ReadFile(b), "old");
    EXPECT_EQ(ProbeFile(b), before);
    EXPECT_FALSE(RenameNoReplace(a, dir.File("c.fbk")));
    EXPECT_FALSE(PathExists(a));
    EXPECT_EQ(ReadFile(dir.File("c.fbk")), "new");
    EXPECT_NE(ProbeFile(dir.File("c.fbk")).inode, before.inode);
    EXPECT_FALSE(ProbeFile(a).exists);
    EXPECT_TRUE(DeleteFile(b));
    EXPECT_FALSE(DeleteFile(b));
}

TEST(WindowsFiles, ReplaceIsWholeAndLeavesNoTemporary) {
    TempDir dir;
    const std::string path = dir.File("Quillmoor.srv");
    ASSERT_TRUE(ReplaceFileAtomically(path, "[Setting]\r\nServer=\r\n"));
    ASSERT_TRUE(ReplaceFileAtomically(path, "second"));
    EXPECT_EQ(ReadFile(path), "second");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);

    // While another process holds the file without letting it be replaced,
    // the replace fails, the old version stays whole and no temporary stays.
    {
        HeldLikeTheServer holder(path, FILE_SHARE_READ);
        ASSERT_TRUE(holder.Valid());
        EXPECT_FALSE(ReplaceFileAtomically(path, "third"));
    }
    EXPECT_EQ(ReadFile(path), "second");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);

    // A temporary left by a writer that died goes; a directory is refused.
    const std::string stale = path + kReplaceTempInfix + "abc123";
    WriteFile(stale, "half");
    HANDLE h =
        ::CreateFileA(stale.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    ticks.QuadPart -= 600ULL * 10000000ULL;  // ten minutes ago
    FILETIME old{ticks.LowPart, ticks.HighPart};
    ::SetFileTime(h, nullptr, nullptr, &old);
    ::CloseHandle(h);
    EXPECT_TRUE(ReplaceFileAtomically(path, "fourth"));
    EXPECT_FALSE(PathExists(stale));
    std::filesystem::create_directory(dir.File("sub"));
    EXPECT_FALSE(ReplaceFileAtomically(dir.File("sub"), "x"));
    EXPECT_FALSE(ReplaceFileAtomically(dir.File("no\\such\\file"), "x"));
}

TEST(WindowsFiles, NamesInAnyScriptReachTheSystemWhole) {
    TempDir dir;
    const std::string db = dir.File("Склад №1.fdb");
    ASSERT_TRUE(ReplaceFileAtomically(db, "pages"));
    // The system holds the name as it was meant, not as bytes of a code page.
    const std::wstring wide =
        std::filesystem::path(dir.Path()).wstring() + L"\u0421\u043a\u043b\u0430\u0434 \u21161.fdb";
    EXPECT_NE(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(FileExists(db));
    EXPECT_EQ(ReadWholeFile(db), "pages");
    EXPECT_TRUE(TryExclusiveOpen(db));
    EXPECT_TRUE(ProbeFile(db).exists);
    EXPECT_FALSE(RenameNoReplace(db, dir.File("Архив.fbk")));
    EXPECT_TRUE(FileExists(dir.File("Архив.fbk")));
}

TEST(WindowsFiles, ReadingWhileAWriterHoldsTheFile) {
    TempDir dir;
    const std::string log = dir.File("Quillmoor.log");
    WriteFile(log, "line\r\n");
    HANDLE writer = ::CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadWholeFile(log), "line\r\n");
    EXPECT_EQ(ReadFileDenyWrite(log), std::nullopt);
    ::CloseHandle(writer);
    EXPECT_EQ(ReadFileDenyWrite(log), "line\r\n");
    EXPECT_EQ(ReadWholeFile(dir.Path()), std::nullopt);
    EXPECT_EQ(ReadWholeFile(dir.File("none")), std::nullopt);
    EXPECT_TRUE(FileExists(log));
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_TRUE(DirectoryExists(dir.Path()));
    EXPECT_TRUE(IsWritableFile(log));
    EXPECT_TRUE(IsWritableDirectory(dir.Path()));
    ::SetFileAttributesA(log.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(IsWritableFile(log));
    ::SetFileAttributesA(log.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WindowsText, CodePagesConvertAtTheSeam) {
    ASSERT_EQ(::GetACP(), 1251u) << "the tests run as on a Russian system";
    // "База" in Windows-1251 and in KOI8-R.
    EXPECT_EQ(DecodeToUtf8("\xC1\xE0\xE7\xE0", "CP1251"), "База");
    EXPECT_EQ(DecodeToUtf8("\xE2\xC1\xDA\xC1", "KOI8-R"), "База");
    EXPECT_EQ(DecodeToUtf8("plain", "NO-SUCH-ENCODING"), "plain");
    EXPECT_EQ(Utf8ToSystem8Bit("База 1"), "\xC1\xE0\xE7\xE0 1");
    EXPECT_EQ(System8BitToUtf8("\xC1\xE0\xE7\xE0 1"), "База 1");
    EXPECT_EQ(Utf8ToSystem8Bit(""), "");
}

TEST(WindowsProcess, ExecutableAndItsVersion) {
    const std::string exe = ExecutablePath();
    ASSERT_GE(exe.size(), 4u);
    EXPECT_EQ(exe.substr(exe.size() - 4), ".exe");
    EXPECT_EQ(ExecutableDir(), ExtractFilePath(exe));
    EXPECT_EQ(ExtractFileName("C:\\Firebird\\gds32.dll"), "gds32.dll");
    EXPECT_EQ(ExtractFilePath("C:gds32.dll"), "C:");
    // The system's own libraries carry a version resource; a text file none.
    const auto kernel = ExecutableFileVersion("C:\\windows\\system32\\kernel32.dll");
    ASSERT_TRUE(kernel.has_value());
    EXPECT_GT((*kernel)[0], 0u);
    TempDir dir;
    WriteFile(dir.File("plain.exe"), "MZ");
    EXPECT_EQ(ExecutableFileVersion(dir.File("plain.exe")), std::nullopt);
}

TEST(WindowsProcess, StandardInputIsNullMeanwhile) {
    TempDir dir;
    WriteFile(dir.File("input.txt"), "typed");
    ASSERT_NE(std::freopen(dir.File("input.txt").c_str(), "rb", stdin), nullptr);
    {
        StandardInputFromNull detached;
        char buf[8];
        EXPECT_EQ(::_read(0, buf, sizeof buf), 0);
        DWORD n = 1;
        EXPECT_TRUE(::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &n, nullptr));
        EXPECT_EQ(n, 0u);
    }
    char buf[8] = {};
    EXPECT_EQ(::_read(0, buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf, 5), "typed");
}

}  // namespace
}  // namespace qm::platform
