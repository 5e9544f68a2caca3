#include "archiver/event_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace qm::archiver {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

std::tm At(int y, int mo, int d, int h, int mi, int s) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return t;
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1)
        out.push_back(text.substr(from, at - from));
    return out;
}

TEST(EventLog, EveryLineCarriesTheTimeAndNoControlCharacters) {
    TEventLog log("");
    EXPECT_EQ(TEventLog::Prefix(At(2024, 3, 5, 9, 7, 3)), "05.03.2024 09:07:03 > ");
    EXPECT_THAT(log.Lines("BackupService:\r\nI/O error\n-No such file\n\n", At(2024, 3, 5, 14, 30, 0)),
                ElementsAre("05.03.2024 14:30:00 > BackupService:",
                            "05.03.2024 14:30:00 > I/O error",
                            "05.03.2024 14:30:00 > -No such file"));
    EXPECT_THAT(log.Lines("a\tb\x1b[2Jc", At(2024, 3, 5, 14, 30, 0)),
                ElementsAre("05.03.2024 14:30:00 > a b [2Jc"));
}

TEST(EventLog, ThePasswordNeverReachesTheFileOrTheStream) {
    test::TempDir dir;
    const std::string path = dir.File("Quillmoor.log");
    const std::string echoPath = dir.File("echo.txt");
    FILE* echo = std::fopen(echoPath.c_str(), "w");
    ASSERT_NE(echo, nullptr);
    {
        TEventLog log(path, echo);
        log.SetSecret("s3cr3t!");
        log.Write("attach failed: password=s3cr3t! user=sysdba; again s3cr3t!s3cr3t!");
    }
    std::fclose(echo);
    for (const std::string& text : {test::ReadFile(path), test::ReadFile(echoPath)}) {
        EXPECT_THAT(text, Not(HasSubstr("s3cr3t")));
        EXPECT_THAT(text, HasSubstr("password=*** user=sysdba; again ******"));
    }
    EXPECT_EQ(HideSecret("ab in a cab", "ab"), "ab in a cab");
}

TEST(EventLog, RotatesAtItsSizeKeepingOneOlderFile) {
    test::TempDir dir;
    const std::string path = dir.File("Quillmoor.log");
    TEventLog log(path, nullptr, 200);
    for (int i = 0; i < 12; ++i) log.Write("line " + std::to_string(i) + " of the event log");
    const auto now = LinesOf(test::ReadFile(path));
    const auto older = LinesOf(test::ReadFile(log.RotatedPath()));
    ASSERT_FALSE(now.empty());
    ASSERT_FALSE(older.empty());
    EXPECT_LT(test::ReadFile(path).size(), 250u);
    EXPECT_THAT(now.back(), HasSubstr("line 11 of"));
    // Lines are never split between the files or lost between the last two.
    EXPECT_THAT(older.back(), HasSubstr("line " + std::to_string(11 - now.size()) + " of"));
}

// The manager reads the log under a shared lock: a line is never written
// while it reads, and what it reads always ends with a whole line.
TEST(EventLog, WaitsForTheManagersReadAndNeverShowsItHalfALine) {
    test::TempDir dir;
    const std::string path = dir.File("Quillmoor.log");
    TEventLog log(path);
    log.Write("first");
    const int reader = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::flock(reader, LOCK_SH), 0);
    std::thread writer([&] { log.Write("second"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_THAT(test::ReadFile(path), Not(HasSubstr("second")));
    ::flock(reader, LOCK_UN);
    ::close(reader);
    writer.join();
    const auto seen = platform::ReadFileDenyWrite(path);
    ASSERT_TRUE(seen.has_value());
    EXPECT_THAT(LinesOf(*seen), ElementsAre(HasSubstr("> first"), HasSubstr("> second")));

    // Many writers at once (the service and a command): whole lines only.
    std::vector<std::thread> many;
    for (int t = 0; t < 4; ++t)
        many.emplace_back([&, t] {
            TEventLog own(path);
            for (int i = 0; i < 50; ++i) own.Write(std::string(200, static_cast<char>('a' + t)));
        });
    for (auto& t : many) t.join();
    const auto all = LinesOf(test::ReadFile(path));
    EXPECT_EQ(all.size(), 202u);
    for (std::size_t i = 2; i < all.size(); ++i) EXPECT_EQ(all[i].size(), 22u + 200u) << all[i];
}

}  // namespace
}  // namespace qm::archiver
