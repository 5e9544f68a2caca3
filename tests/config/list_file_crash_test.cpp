// A writer killed at any moment leaves the list file as a complete register,
// old or new: the auto-archiving service may read it at any time.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "config/firebird_base.h"
#include "config/ini_file.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::ScopedDataDir;
using test::TempDir;

constexpr int kKills = 30;
constexpr int kTimesPerRecord = 6;

// Every field of a record tells its generation and position, so that a section
// mixed from two writes shows.
TFirebirdBase Record(int generation, int i) {
    TFirebirdBase b;
    b.Number = i;
    b.Active = (generation + i) % 2 == 0;
    b.Description = "g" + std::to_string(generation) + " r" + std::to_string(i);
    b.DBFile = "/data/" + b.Description + ".fdb";
    b.ArcDir = "/archive/" + b.Description;
    b.ArcFileCount = generation;
    b.Mon = b.Wed = b.Fri = true;
    for (int t = 0; t < kTimesPerRecord; ++t)
        b.BackupTimes.push_back(std::to_string(10 + t) + ":" + std::to_string(generation % 60));
    return b;
}

// Saves sections one by one and rebuilds the file, forever; writes one byte to
// the pipe once the first write is done.
[[noreturn]] void Writer(int progressFd) {
    try {
        bool told = false;
        for (int generation = 1;; ++generation) {
            const int n = 1 + generation % 4;
            std::vector<TFirebirdBase> records;
            for (int i = 0; i < n; ++i) records.push_back(Record(generation, i));
            if (generation % 2 == 0) {
                std::vector<TFirebirdBase*> pointers;
                for (TFirebirdBase& r : records) pointers.push_back(&r);
                TFirebirdBaseList::RebuildListFile(pointers);
            } else {
                for (const TFirebirdBase& r : records) TFirebirdBaseList::SaveFirebirdBase(r);
            }
            if (!told) {
                told = ::write(progressFd, "x", 1) == 1;
            }
        }
    } catch (...) {
    }
    ::_exit(1);
}

// The file as the service would find it: sections 0..n-1, each whole and of
// one write, and nothing after the gap.
void ExpectCompleteRegister(const std::string& path) {
    TIniFile ini(path);
    ASSERT_TRUE(ini.SectionExists("0")) << ini.Text();
    int n = 0;
    while (ini.SectionExists(std::to_string(n))) ++n;
    for (int extra = n; extra < n + 8; ++extra)
        EXPECT_FALSE(ini.SectionExists(std::to_string(extra))) << ini.Text();

    TFirebirdBaseList list(true);
    ASSERT_EQ(list.Count(), static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const std::string s = std::to_string(i);
        for (const char* key :
             {"Active", "Discription", "DBFile", "ArcDir", "DoZIP", "ArcArcFileCountDir", "Mon",
              "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"})
            EXPECT_TRUE(ini.ValueExists(s, key)) << key << " in " << ini.Text();
        const TFirebirdBase& got = *list[static_cast<std::size_t>(i)];
        const TFirebirdBase want = Record(got.ArcFileCount, i);
        EXPECT_EQ(got.Description, want.Description);
        EXPECT_EQ(got.DBFile, want.DBFile);
        EXPECT_EQ(got.ArcDir, want.ArcDir);
        EXPECT_EQ(got.Active, want.Active);
        EXPECT_EQ(got.BackupTimes, want.BackupTimes);
    }
}

TEST(ListFileCrashTest, KilledWriterLeavesCompleteRegister) {
    TempDir dir;
    ScopedDataDir dataDir(dir.Path());
    TFirebirdBaseList::SaveFirebirdBase(Record(0, 0));

    std::random_device rd;
    const unsigned seed = rd();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> delayUs(0, 4000);

    for (int kill = 0; kill < kKills; ++kill) {
        int progress[2];
        ASSERT_EQ(::pipe(progress), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(progress[0]);
            Writer(progress[1]);
        }
        ::close(progress[1]);
        char byte;
        const bool started = ::read(progress[0], &byte, 1) == 1;
        ::close(progress[0]);
        ::usleep(static_cast<useconds_t>(delayUs(rng)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(started) << "the writer failed before its first write";
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "writer ended itself";
        SCOPED_TRACE("kill " + std::to_string(kill));
        ExpectCompleteRegister(ListFilePath());
        if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
}

}  // namespace
}  // namespace qm
