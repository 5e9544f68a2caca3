// The file-system seams the restore relies on beyond what its own suite can
// provoke: what stands at a path (nothing, a link to nothing, a directory, a
// pipe) for the lock, the rename and the link resolution.

#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "tests/support/temp_dir.h"

namespace qm::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Status = ExclusiveFileLock::Status;

TEST(ExclusiveFileLock, WhatStandsAtThePath) {
    TempDir dir;
    WriteFile(dir.File("db.fdb"), "data");
    ASSERT_EQ(::symlink(dir.File("db.fdb").c_str(), dir.File("link.fdb").c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("gone.fdb").c_str(), dir.File("dangling.fdb").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.File("folder.fdb").c_str(), 0755), 0);
    // Opening a pipe for reading would wait for a writer.
    ASSERT_EQ(::mkfifo(dir.File("pipe.fdb").c_str(), 0644), 0);

    const struct {
        std::string name;
        Status status;
    } cases[] = {
        {"db.fdb", Status::Held},
        {"link.fdb", Status::Held},
        {"missing.fdb", Status::Missing},
        {"dangling.fdb", Status::Missing},
        {"folder.fdb", Status::NotAFile},
        {"pipe.fdb", Status::NotAFile},
        {"db.fdb/inner.fdb", Status::Failed},
    };
    for (const auto& c : cases) {
        const ExclusiveFileLock lock(dir.File(c.name));
        EXPECT_EQ(lock.GetStatus(), c.status) << c.name;
        EXPECT_EQ(lock.Held(), c.status == Status::Held) << c.name;
    }
    const ExclusiveFileLock failed(dir.File("db.fdb/inner.fdb"));
    EXPECT_EQ(failed.Error(), std::errc::not_a_directory);
    EXPECT_EQ(ReadFile(dir.File("db.fdb")), "data");
}

TEST(ExclusiveFileLock, RefusedWhileHeldByAnotherAndFreeAfterwards) {
    TempDir dir;
    WriteFile(dir.File("db.fdb"), "data");
    ASSERT_EQ(::symlink(dir.File("db.fdb").c_str(), dir.File("link.fdb").c_str()), 0);
    {
        const ExclusiveFileLock first(dir.File("db.fdb"));
        ASSERT_TRUE(first.Held());
        EXPECT_EQ(ExclusiveFileLock(dir.File("db.fdb")).GetStatus(), Status::InUse);
        EXPECT_EQ(ExclusiveFileLock(dir.File("link.fdb")).GetStatus(), Status::InUse);
        EXPECT_TRUE(first.Held());
    }
    EXPECT_TRUE(ExclusiveFileLock(dir.File("db.fdb")).Held());
}

TEST(RenameNoReplace, NeverOverAnythingThatStandsAtTheName) {
    TempDir dir;
    WriteFile(dir.File("old.fdb"), "old");
    ASSERT_EQ(::symlink(dir.File("gone.fdb").c_str(), dir.File("dangling.fdb").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0755), 0);

    for (const char* taken : {"old.fdb", "dangling.fdb", "folder"}) {
        WriteFile(dir.File("new.fdb"), "new");
        EXPECT_EQ(RenameNoReplace(dir.File("new.fdb"), dir.File(taken)), std::errc::file_exists)
            << taken;
        EXPECT_EQ(ReadFile(dir.File("new.fdb")), "new") << taken;
    }
    EXPECT_EQ(ReadFile(dir.File("old.fdb")), "old");
    EXPECT_TRUE(PathExists(dir.File("dangling.fdb")));
    EXPECT_TRUE(DirectoryExists(dir.File("folder")));

    EXPECT_FALSE(RenameNoReplace(dir.File("new.fdb"), dir.File("free.fdb")));
    EXPECT_EQ(ReadFile(dir.File("free.fdb")), "new");
    EXPECT_FALSE(PathExists(dir.File("new.fdb")));
    EXPECT_EQ(RenameNoReplace(dir.File("new.fdb"), dir.File("other.fdb")),
              std::errc::no_such_file_or_directory);
}

TEST(ResolveSymbolicLinks, FollowsEveryLinkAndLeavesWhatCannotBeFollowed) {
    TempDir dir;
    const std::string real = std::filesystem::canonical(dir.Path()).string() + "/real.fdb";
    WriteFile(dir.File("real.fdb"), "data");
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(dir.File("real.fdb").c_str(), dir.File("link.fdb").c_str()), 0);
    ASSERT_EQ(::symlink("link.fdb", dir.File("chain.fdb").c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("gone.fdb").c_str(), dir.File("dangling.fdb").c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("loop.fdb").c_str(), dir.File("loop.fdb").c_str()), 0);

    const struct {
        std::string path;
        std::string resolved;
        bool exists;
    } cases[] = {
        {dir.File("real.fdb"), real, true},
        {dir.File("chain.fdb"), real, true},
        {dir.File("sub/../link.fdb"), real, true},
        {dir.File("dangling.fdb"), dir.File("dangling.fdb"), true},
        {dir.File("loop.fdb"), dir.File("loop.fdb"), true},
        {dir.File("missing.fdb"), dir.File("missing.fdb"), false},
        {"", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ResolveSymbolicLinks(c.path), c.resolved) << c.path;
        EXPECT_EQ(PathExists(c.path), c.exists) << c.path;
    }
}

}  // namespace
}  // namespace qm::platform
