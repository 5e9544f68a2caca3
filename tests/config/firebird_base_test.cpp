#include "config/firebird_base.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>

#include "platform/platform.h"
#include "platform/text_encoding.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::ScopedDataDir;
using test::TempDir;

// The list file is kept in the system's 8-bit code page: the tests' texts
// go into it and come out of it in that form.
void WriteFile(const std::string& path, const std::string& text) {
    test::WriteFile(path, platform::Utf8ToSystem8Bit(text));
}
std::string ReadFile(const std::string& path) {
    return platform::System8BitToUtf8(test::ReadFile(path));
}

// One line per record: every field, so that a table row states the whole result.
std::string Describe(const TFirebirdBase& b) {
    std::string s = std::to_string(b.Number) + (b.Active ? " on" : " off") + " [" + b.Description +
                    "] [" + b.DBFile + "] [" + b.ArcDir + "] zip" + (b.DoZIP ? "1" : "0") +
                    " keep" + std::to_string(b.ArcFileCount) + " ";
    for (bool d : {b.Sun, b.Mon, b.Tue, b.Wed, b.Thu, b.Fri, b.Sat}) s += d ? '1' : '0';
    for (const std::string& t : b.BackupTimes) s += " " + t;
    return s;
}

std::vector<std::string> Describe(const TFirebirdBaseList& list) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < list.Count(); ++i) out.push_back(Describe(*list[i]));
    return out;
}

TFirebirdBase Store() {
    TFirebirdBase b;
    b.Number = 0;
    b.Active = true;
    b.Description = "Склад";
    b.DBFile = "/data/STORE.FDB";
    b.ArcDir = "/archive/";
    b.ArcFileCount = 20;
    b.Mon = b.Tue = b.Wed = b.Thu = b.Fri = true;
    b.BackupTimes = {"13:30", "23:00"};
    return b;
}

const char* const kStoreSection =
    "[0]\n"
    "Active=1\n"
    "Discription=Склад\n"
    "DBFile=/data/STORE.FDB\n"
    "ArcDir=/archive/\n"
    "DoZIP=0\n"
    "ArcArcFileCountDir=20\n"
    "Mon=1\n"
    "Tue=1\n"
    "Wed=1\n"
    "Thu=1\n"
    "Fri=1\n"
    "Sat=0\n"
    "Sun=0\n"
    "BackupTime0=13:30\n"
    "BackupTime1=23:00\n";

class ListFileTest : public ::testing::Test {
protected:
    TempDir dir_;
    ScopedDataDir dataDir_{dir_.Path()};
    std::string path_ = dir_.File("Quillmoor.bse");
};

TEST_F(ListFileTest, PathIsInDataDirectory) { EXPECT_EQ(ListFilePath(), path_); }

TEST_F(ListFileTest, ReadingRules) {
    struct Case {
        const char* name;
        std::string file;
        std::vector<std::string> expected;
    } cases[] = {
        {"no file", "", {}},
        {"written form, CRLF",
         "[0]\r\nActive=1\r\nDiscription=Склад\r\nDBFile=/data/STORE.FDB\r\nArcDir=/archive/\r\n"
         "DoZIP=1\r\nArcArcFileCountDir=5\r\nMon=1\r\nTue=0\r\nWed=1\r\nThu=0\r\nFri=1\r\n"
         "Sat=1\r\nSun=1\r\nBackupTime0=13:30\r\nBackupTime1=23:00\r\n",
         {"0 on [Склад] [/data/STORE.FDB] [/archive/] zip1 keep5 1101011 13:30 23:00"}},
        {"gap ends the register",
         "[0]\nActive=1\n[1]\nActive=0\n[3]\nActive=1\n",
         {"0 on [] [] [] zip0 keep20 0000000", "1 off [] [] [] zip0 keep20 0000000"}},
        {"header without keys is missing",
         "[0]\nActive=1\n[1]\n; comment only\n\n[2]\nActive=1\n",
         {"0 on [] [] [] zip0 keep20 0000000"}},
        {"no section 0", "[1]\nActive=1\n", {}},
        {"defaults, hex, words",
         "[0]\nDBFile=/d/x.fdb\n[1]\nArcArcFileCountDir=0x10\nActive=yes\nMon=2\nSun=-1\n"
         "DoZIP=0X1\n",
         {"0 off [] [/d/x.fdb] [] zip0 keep20 0000000", "1 off [] [] [] zip1 keep16 1100000"}},
        {"not an integer gives the default",
         "[0]\nArcArcFileCountDir=many\n",
         {"0 off [] [] [] zip0 keep20 0000000"}},
        {"empty time skipped",
         "[0]\nBackupTime0=13:30\nBackupTime1=\nBackupTime2=23:00\n",
         {"0 off [] [] [] zip0 keep20 0000000 13:30 23:00"}},
        {"missing time ends the times",
         "[0]\nBackupTime0=13:30\nBackupTime2=23:00\n",
         {"0 off [] [] [] zip0 keep20 0000000 13:30"}},
        {"names in any case, blanks around values",
         "[0]\n  ACTIVE = 1 \ndiscription=  Two words  \nbackuptime0= 08:00\n",
         {"0 on [Two words] [] [] zip0 keep20 0000000 08:00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path_);
        if (!c.file.empty()) WriteFile(path_, c.file);
        TFirebirdBaseList list(true);
        EXPECT_EQ(Describe(list), c.expected);
    }
}

TEST_F(ListFileTest, LoadReplacesTheContent) {
    WriteFile(path_, "[0]\nActive=1\n");
    TFirebirdBaseList list(false);
    EXPECT_EQ(list.Count(), 0u);
    list.Load();
    list.Load();
    EXPECT_EQ(list.Count(), 1u);
}

TEST_F(ListFileTest, SaveWritesTheStoredFormAndReadsBack) {
    TFirebirdBase b = Store();
    TFirebirdBaseList::SaveFirebirdBase(b);
    EXPECT_EQ(ReadFile(path_), kStoreSection);
    TFirebirdBaseList list(true);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(Describe(*list[0]), Describe(b));
}

TEST_F(ListFileTest, SaveRewritesOnlyItsSection) {
    const std::string before = "; kept\r\n[0]\r\nActive=1\r\nDBFile=/a.fdb\r\n\r\n";
    const std::string after = "\r\n[2]\r\nActive=1\r\nDBFile=/c.fdb\r\n";
    WriteFile(path_, before + "[1]\r\nActive=1\r\nHandAdded=x\r\nBackupTime0=10:00\r\n" + after);
    TFirebirdBase b;
    b.Number = 1;
    b.DBFile = "/b.fdb";
    TFirebirdBaseList::SaveFirebirdBase(b);
    // No times: no BackupTime keys, the old ones and the hand-added key gone;
    // the header line stays as it was.
    EXPECT_EQ(ReadFile(path_),
              before +
                  "[1]\r\nActive=0\nDiscription=\nDBFile=/b.fdb\nArcDir=\nDoZIP=0\n"
                  "ArcArcFileCountDir=0\nMon=0\nTue=0\nWed=0\nThu=0\nFri=0\n"
                  "Sat=0\nSun=0\n" +
                  after);

    // A record whose section is missing is appended.
    b.Number = 3;
    TFirebirdBaseList::SaveFirebirdBase(b);
    TFirebirdBaseList list(true);
    EXPECT_EQ(list.Count(), 4u);
}

TEST_F(ListFileTest, SaveFailsWithThePath) {
    std::filesystem::create_directory(path_);
    try {
        TFirebirdBaseList::SaveFirebirdBase(Store());
        ADD_FAILURE() << "no error";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path_);
    }

    const std::string missingDir = dir_.File("gone") + platform::kPathDelim;
    ScopedDataDir elsewhere(missingDir);
    try {
        TFirebirdBaseList::SaveFirebirdBase(Store());
        ADD_FAILURE() << "no error";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + missingDir + "Quillmoor.bse");
    }
}

TEST_F(ListFileTest, SaveRefusesValueThatWouldForgeSections) {
    TFirebirdBaseList::SaveFirebirdBase(Store());
    TFirebirdBase b = Store();
    b.DBFile = "/x.fdb\n[1]\nActive=1";
    EXPECT_THROW(TFirebirdBaseList::SaveFirebirdBase(b), EIniFileError);
    EXPECT_EQ(ReadFile(path_), kStoreSection);
}

TEST_F(ListFileTest, RebuildWritesExactlyTheRecordsRenumbered) {
    WriteFile(path_, std::string("; old\n") + kStoreSection + "[1]\nActive=1\n[2]\nActive=0\n");
    TFirebirdBase first = Store();
    first.Number = 2;
    TFirebirdBase second;
    second.Number = 7;
    second.DBFile = "/two.fdb";
    ASSERT_TRUE(TFirebirdBaseList::RebuildListFile({&first, &second}));
    EXPECT_EQ(first.Number, 0);
    EXPECT_EQ(second.Number, 1);
    EXPECT_EQ(ReadFile(path_), std::string(kStoreSection) +
                                   "[1]\nActive=0\nDiscription=\nDBFile=/two.fdb\nArcDir=\n"
                                   "DoZIP=0\nArcArcFileCountDir=0\nMon=0\nTue=0\nWed=0\nThu=0\n"
                                   "Fri=0\nSat=0\nSun=0\n");
}

TEST_F(ListFileTest, RebuildWithNoRecordsRemovesTheFile) {
    WriteFile(path_, kStoreSection);
    EXPECT_TRUE(TFirebirdBaseList::RebuildListFile({}));
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_EQ(TFirebirdBaseList(true).Count(), 0u);
}

TEST_F(ListFileTest, RebuildChangesNothingWhenTheFileIsMissingOrNotAFile) {
    TFirebirdBase b = Store();
    b.Number = 5;
    EXPECT_FALSE(TFirebirdBaseList::RebuildListFile({&b}));
    EXPECT_FALSE(TFirebirdBaseList::RebuildListFile({}));
    EXPECT_FALSE(std::filesystem::exists(path_));

    std::filesystem::create_directory(path_);
    EXPECT_FALSE(TFirebirdBaseList::RebuildListFile({&b}));
    EXPECT_FALSE(TFirebirdBaseList::RebuildListFile({}));
    EXPECT_TRUE(std::filesystem::is_directory(path_));
    EXPECT_EQ(b.Number, 5);
}

#ifndef _WIN32
// Named pipes, symbolic links and permission bits are Linux's.
TEST_F(ListFileTest, APipeReadsAsNoRegisterAndALinkIsWrittenThrough) {
    ASSERT_EQ(::mkfifo(path_.c_str(), 0644), 0);
    EXPECT_EQ(TFirebirdBaseList(true).Count(), 0u);
    EXPECT_THROW(TFirebirdBaseList::SaveFirebirdBase(Store()), EIniFileError);
    std::filesystem::remove(path_);

    // A register kept elsewhere stays there, through every kind of write.
    const std::string elsewhere = dir_.File("shared.bse");
    WriteFile(elsewhere, kStoreSection);
    std::filesystem::create_symlink(elsewhere, path_);
    TFirebirdBase b = Store();
    b.Number = 1;
    TFirebirdBaseList::SaveFirebirdBase(b);
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(TFirebirdBaseList(true).Count(), 2u);
    ASSERT_TRUE(TFirebirdBaseList::RebuildListFile({&b}));
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(ReadFile(elsewhere), kStoreSection);
    ASSERT_TRUE(TFirebirdBaseList::RebuildListFile({}));
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
}
#endif

TEST_F(ListFileTest, RebuildRefusingAValueKeepsFileAndNumbers) {
    WriteFile(path_, kStoreSection);
    TFirebirdBase good = Store();
    good.Number = 4;
    TFirebirdBase bad = Store();
    bad.Number = 6;
    bad.Description = "two\r\nlines";
    EXPECT_THROW(TFirebirdBaseList::RebuildListFile({&good, &bad}), EIniFileError);
    EXPECT_EQ(ReadFile(path_), kStoreSection);
    EXPECT_EQ(good.Number, 4);
    EXPECT_EQ(bad.Number, 6);
}

// A path of these tables in the platform's own form.
std::string N(std::string path) {
    for (char& c : path)
        if (c == '/') c = platform::kPathDelim;
    return path;
}

TEST(ArchiveNameTest, BaseNames) {
    struct Case {
        const char* arcDir;
        const char* dbFile;
        const char* expected;
    } cases[] = {
        {"/arc/", "/data/base.fdb", "/arc/base"},
        {"/arc", "/data/base.fdb", "/arc/base"},
        {"/old.fdb", "/data/base.fdb", "/old.fdb/base"},
        {"/arc", "/data/base", "/arc/base"},
        {"/arc", "/da.ta/base", "/arc/base"},
        {"/arc", "/data/a.b.fdb", "/arc/a.b"},
        {"/arc", "base.fdb", "/arc/base"},
        {"", "/data/base.fdb", "/base"},
        {"/arc", "", "/arc/"},
    };
    for (const Case& c : cases) {
        TFirebirdBase b;
        b.ArcDir = N(c.arcDir);
        b.DBFile = N(c.dbFile);
        EXPECT_EQ(TFirebirdBaseList::GetArchiveBaseName(b), N(c.expected))
            << c.arcDir << " + " << c.dbFile;
    }
}

TEST(ArchiveNameTest, FileNames) {
    TFirebirdBase b;
    b.ArcDir = N("/archive");
    b.DBFile = N("/data/STORE.FDB");
    std::tm t{};
    t.tm_year = 2012 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 30;
    t.tm_sec = 59;
    EXPECT_EQ(TFirebirdBaseList::GetArchiveFileName(b, t),
              N("/archive/STORE 2012_03_05 14-30.fbk"));
    t.tm_hour = 0;
    t.tm_min = 7;
    t.tm_mon = 11;
    t.tm_mday = 31;
    EXPECT_EQ(TFirebirdBaseList::GetArchiveFileName(b, t),
              N("/archive/STORE 2012_12_31 00-07.fbk"));

    EXPECT_TRUE(std::regex_match(TFirebirdBaseList::GetArchiveFileName(b),
                                 std::regex(R"(.archive.STORE \d{4}_\d\d_\d\d \d\d-\d\d\.fbk)")));
}

}  // namespace
}  // namespace qm
