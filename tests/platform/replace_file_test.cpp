// Replacing a file the program keeps (the settings, the register, the unit
// file) changes its content and nothing else about it: the owner and mode stay
// (or are exactly what the caller asks), a symbolic link is written through,
// what is not a regular file is refused and never waited on, and temporary
// files of killed writers go. As root and as an ordinary user.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace qm::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// Runs the checks in a child process with the rights of the user nobody, in a
// folder that belongs to it; "" when they held, else what failed. Skipped
// (nothing returned) when this process cannot become nobody.
std::optional<std::string> AsNobody(const std::string& dir,
                                    const std::function<std::string()>& checks) {
    if (::geteuid() != 0) return std::nullopt;
    if (::chown(dir.c_str(), kNobody, kNogroup) != 0) return "chown of " + dir;
    int out[2];
    if (::pipe(out) != 0) return "pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        std::string failure = "cannot become nobody";
        if (::setgroups(0, nullptr) == 0 && ::setgid(kNogroup) == 0 && ::setuid(kNobody) == 0)
            failure = checks();
        (void)::write(out[1], failure.data(), failure.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string failure;
    char buf[512];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        failure.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status)) return "the child died: " + std::to_string(status);
    return failure;
}

// What every user can count on: the mode of an existing file stays, a new one
// gets exactly the mode asked for whatever the umask, ModeRule::Exactly
// imposes it, a link is written through (a dangling one makes its target).
std::string OwnFileChecks(const std::string& dir) {
    std::string failures;
    auto expect = [&](bool ok, const std::string& what) {
        if (!ok) failures += what + "; ";
    };
    const mode_t umask = ::umask(077);
    const std::string kept = dir + "kept.ini";
    WriteFile(kept, "old");
    ::chmod(kept.c_str(), 0640);
    expect(ReplaceFileAtomically(kept, "new"), "replace kept");
    expect(ReadFile(kept) == "new", "content of kept");
    expect((Stat(kept).st_mode & 07777) == 0640, "mode of kept");

    const std::string fresh = dir + "fresh.ini";
    expect(ReplaceFileAtomically(fresh, "new"), "replace fresh");
    expect((Stat(fresh).st_mode & 07777) == 0644, "mode of fresh under umask 077");

    expect(ReplaceFileAtomically(kept, "secret", 0600, ModeRule::Exactly), "replace secret");
    expect((Stat(kept).st_mode & 07777) == 0600, "mode imposed");
    ::umask(umask);

    std::filesystem::create_directory(dir + "elsewhere");
    const std::string target = dir + "elsewhere/list.ini";
    WriteFile(target, "old");
    ::symlink(target.c_str(), (dir + "link.ini").c_str());
    ::symlink("elsewhere/gone.ini", (dir + "dangling.ini").c_str());
    expect(ReplaceFileAtomically(dir + "link.ini", "through"), "replace through link");
    expect(S_ISLNK(Stat(dir + "link.ini").st_mode), "the link stays a link");
    expect(ReadFile(target) == "through", "the target holds the content");
    expect(ReplaceFileAtomically(dir + "dangling.ini", "made"), "replace through dangling link");
    expect(S_ISLNK(Stat(dir + "dangling.ini").st_mode), "the dangling link stays");
    expect(ReadFile(dir + "elsewhere/gone.ini") == "made", "the dangling target is made");
    for (const auto& e : std::filesystem::directory_iterator(dir + "elsewhere"))
        expect(e.path().filename().string().find(kReplaceTempInfix) == std::string::npos,
               "temporary left: " + e.path().string());
    return failures;
}

TEST(ReplaceFileAtomically, ModesAndLinksForThisUserAndForAnOrdinaryOne) {
    TempDir dir;
    EXPECT_EQ(OwnFileChecks(dir.Path()), "");
    TempDir other;
    if (auto failures = AsNobody(other.Path(), [&] { return OwnFileChecks(other.Path()); })) {
        EXPECT_EQ(*failures, "") << "as nobody";
    }
}

TEST(ReplaceFileAtomically, RootKeepsTheOwnersOfTheFilesItReplaces) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    TempDir dir;
    const std::string kept = dir.File("Quillmoor.srv");
    WriteFile(kept, "old");
    ASSERT_EQ(::chown(kept.c_str(), kNobody, kNogroup), 0);
    ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
    ASSERT_TRUE(ReplaceFileAtomically(kept, "new", 0600, ModeRule::Exactly));
    EXPECT_EQ(Stat(kept).st_uid, kNobody);
    EXPECT_EQ(Stat(kept).st_gid, kNogroup);
    EXPECT_EQ(Stat(kept).st_mode & 07777, 0600u);

    // A new file in a user's folder is the user's, so that the user can go on
    // with it after a run as root.
    const std::string users = dir.File("home/");
    std::filesystem::create_directory(users);
    ASSERT_EQ(::chown(users.c_str(), kNobody, kNogroup), 0);
    ASSERT_TRUE(ReplaceFileAtomically(users + "Quillmoor.bse", "new"));
    EXPECT_EQ(Stat(users + "Quillmoor.bse").st_uid, kNobody);
    // In root's own folder it stays root's.
    ASSERT_TRUE(ReplaceFileAtomically(dir.File("Quillmoor.bse"), "new"));
    EXPECT_EQ(Stat(dir.File("Quillmoor.bse")).st_uid, 0u);
}

TEST(ReplaceFileAtomically, WhatIsNotARegularFileIsRefusedAndNeverWaitedOn) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("pipe.ini").c_str(), 0644), 0);
    ASSERT_EQ(::mkdir(dir.File("folder.ini").c_str(), 0755), 0);
    for (const char* name : {"pipe.ini", "folder.ini"}) {
        EXPECT_FALSE(ReplaceFileAtomically(dir.File(name), "new")) << name;
        // Opening a pipe for reading would wait for a writer for ever.
        EXPECT_FALSE(ReadWholeFile(dir.File(name))) << name;
        EXPECT_FALSE(ReadFileDenyWrite(dir.File(name))) << name;
    }
    EXPECT_TRUE(S_ISFIFO(Stat(dir.File("pipe.ini")).st_mode));
    EXPECT_TRUE(S_ISDIR(Stat(dir.File("folder.ini")).st_mode));
    EXPECT_FALSE(ReadWholeFile("/dev/null"));
}

TEST(ReplaceFileAtomically, TemporariesOfKilledWritersGoALiveWritersOneStays) {
    TempDir dir;
    const std::string file = dir.File("Quillmoor.bse");
    const std::string prefix = file + kReplaceTempInfix;
    auto age = [](const std::string& path, int seconds) {
        const timespec t[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0) << path;
    };
    for (const char* suffix : {"dead01", "dead02", "live01", "young1"}) {
        WriteFile(prefix + suffix, "half a register");
        if (std::string(suffix) != "young1") age(prefix + suffix, 120);
    }
    // Not ours: another name, or ours with another file's name.
    WriteFile(file + ".backup", "the user's copy");
    age(file + ".backup", 120);
    WriteFile(dir.File("Quillmoor.srv") + kReplaceTempInfix + "other1", "settings");
    age(dir.File("Quillmoor.srv") + kReplaceTempInfix + "other1", 120);
    // A writer that still runs holds its temporary file locked.
    const int live = ::open((prefix + "live01").c_str(), O_RDONLY);
    ASSERT_GE(live, 0);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);

    ASSERT_TRUE(ReplaceFileAtomically(file, "[0]\n"));
    ::close(live);
    EXPECT_FALSE(std::filesystem::exists(prefix + "dead01"));
    EXPECT_FALSE(std::filesystem::exists(prefix + "dead02"));
    EXPECT_TRUE(std::filesystem::exists(prefix + "live01"));
    EXPECT_TRUE(std::filesystem::exists(prefix + "young1"));
    EXPECT_TRUE(std::filesystem::exists(file + ".backup"));
    EXPECT_TRUE(std::filesystem::exists(dir.File("Quillmoor.srv") + kReplaceTempInfix + "other1"));
    EXPECT_EQ(ReadFile(file), "[0]\n");
}

}  // namespace
}  // namespace qm::platform
