#include "config/setting.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::ReadFile;
using test::ScopedDataDir;
using test::TempDir;
using test::WriteFile;

// "plumstone" under the settings cipher, from a separate model of the cipher.
constexpr const char* kPlumstoneHex = "96BB8996B6AE0D134E";

class SettingTest : public ::testing::Test {
protected:
    TempDir dir_;
    ScopedDataDir dataDir_{dir_.Path()};
    std::string path_ = dir_.File("Quillmoor.srv");
};

TEST_F(SettingTest, DefaultsWithoutFileAndNothingWritten) {
    EXPECT_EQ(SettingsFilePath(), path_);
    TSetting s(true);
    EXPECT_EQ(s.SYSDBAPassword, "plumstone");
    EXPECT_EQ(s.LibraryName, platform::kDefaultClientLibrary);
    EXPECT_FALSE(std::filesystem::exists(path_));

    TSetting unloaded(false);
    EXPECT_EQ(unloaded.SYSDBAPassword, "");
    EXPECT_EQ(unloaded.LibraryName, "");
}

TEST_F(SettingTest, StoredValues) {
    struct Case {
        const char* name;
        std::string file;
        const char* password;
        const char* library;
    } cases[] = {
        {"enciphered",
         std::string("[Setting]\nSYSDBAPassword=") + kPlumstoneHex +
             "\nLibraryName=/opt/fb/lib/libfbclient.so\n",
         "plumstone", "/opt/fb/lib/libfbclient.so"},
        {"lowercase digits, names in any case",
         "[setting]\nsysdbapassword=f7196ccf7335102f46\nlibraryname=libfbclient.so\n", "masterkey",
         "libfbclient.so"},
        {"empty value is an empty password", "[Setting]\nSYSDBAPassword=\n", "",
         platform::kDefaultClientLibrary},
        {"plain password is not hexadecimal", "[Setting]\nSYSDBAPassword=masterkey\n", "plumstone",
         platform::kDefaultClientLibrary},
        {"other section", "[Other]\nSYSDBAPassword=\nLibraryName=x\n", "plumstone",
         platform::kDefaultClientLibrary},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(path_, c.file);
        TSetting s(true);
        EXPECT_EQ(s.SYSDBAPassword, c.password);
        EXPECT_EQ(s.LibraryName, c.library);
    }
}

TEST_F(SettingTest, SaveRoundTripsWithPasswordEnciphered) {
    TSetting s(true);
    s.SYSDBAPassword = "masterkey";
    s.LibraryName = "libfbclient.so";
    s.Save();
    EXPECT_EQ(ReadFile(path_),
              "[Setting]\nSYSDBAPassword=F7196CCF7335102F46\n"
              "LibraryName=libfbclient.so\nServer=\n");
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif

    for (const char* password : {"", "пароль с пробелом", "x"}) {
        s.SYSDBAPassword = password;
        s.Save();
        TSetting back(true);
        EXPECT_EQ(back.SYSDBAPassword, password);
        EXPECT_EQ(back.LibraryName, "libfbclient.so");
    }

    s.Server = " db.example/3051 ";
    s.Save();
    EXPECT_EQ(TSetting(true).Server, "db.example/3051");
}

#ifndef _WIN32
// Named pipes, symbolic links and permission bits are Linux's.
TEST_F(SettingTest, SavedFileIsTheOwnersOnlyWhateverItsModeWas) {
    WriteFile(path_, "[Setting]\nLibraryName=old.so\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
    TSetting s(true);
    s.SYSDBAPassword = "masterkey";
    s.Save();
    struct stat st;
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(SettingTest, WhatIsNotAFileReadsAsMissingAndIsNotReplaced) {
    // A pipe would hold the start-up for ever if it were opened for reading.
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    TSetting s(true);
    EXPECT_EQ(s.SYSDBAPassword, "plumstone");
    EXPECT_EQ(s.LibraryName, platform::kDefaultClientLibrary);
    EXPECT_THROW(s.Save(), EIniFileError);
    EXPECT_TRUE(std::filesystem::is_fifo(path_));
}
#endif

TEST_F(SettingTest, SaveKeepsTheRestOfTheFile) {
    WriteFile(path_,
              "; hand notes\r\n[Setting]\r\nLibraryName=old.so\r\nExtra=1\r\n[Other]\r\nk=v\r\n");
    TSetting s(false);
    s.SYSDBAPassword = "plumstone";
    s.LibraryName = "new.so";
    s.Save();
    EXPECT_EQ(ReadFile(path_), std::string("; hand notes\r\n[Setting]\r\nLibraryName=new.so\r\n"
                                           "Extra=1\r\nSYSDBAPassword=") +
                                   kPlumstoneHex + "\nServer=\n[Other]\r\nk=v\r\n");
}

TEST_F(SettingTest, SaveFailsWithThePathAndKeepsTheFile) {
    std::filesystem::create_directory(path_);
    TSetting s(true);
    try {
        s.Save();
        ADD_FAILURE() << "no error";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path_);
    }

    std::filesystem::remove(path_);
    WriteFile(path_, "[Setting]\nLibraryName=kept.so\n");
    s.LibraryName = "line\nbreak";
    EXPECT_THROW(s.Save(), EIniFileError);
    EXPECT_EQ(ReadFile(path_), "[Setting]\nLibraryName=kept.so\n");
}

}  // namespace
}  // namespace qm
