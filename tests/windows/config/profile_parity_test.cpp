// The settings and list files are read and written by our own profile
// reader on Windows too (it replaces a file atomically, which the system's
// profile calls do not). These tests hold it to the system's calls: what one
// writes, the other reads the same way.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "config/firebird_base.h"
#include "config/ini_file.h"
#include "platform/text_encoding.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kDefault = "<default>";

// A read with a buffer of 2048 characters, which holds the 2047 characters
// that a value is cut to.
std::string SystemRead(const std::string& path, const char* section, const char* key) {
    char buf[2048];
    const DWORD n =
        ::GetPrivateProfileStringA(section, key, kDefault, buf, sizeof buf, path.c_str());
    return std::string(buf, n);
}

TEST(ProfileParityTest, OurReaderReadsWhatTheSystemReads) {
    TempDir dir;
    const std::string path = dir.File("Quillmoor.bse");
    for (const char* lineEnd : {"\r\n", "\n"}) {
        std::string text;
        for (const char* line :
             {"Loose=before any section", "  [Main]  ", "; Hidden=comment",
              "  Name  =  padded value \t", "Empty=", "NoEquals", "Name=second of the name",
              "Inner=a = b", "[empty]", "", "[MAIN]", "Late=in the second section of the name",
              "[1]", "DBFile=C:\\Data\\STORE.FDB", "BackupTime0=10:30", "ArcFileCount=  7 ",

              "Half=\"open", "[Last]", "K=no end of line"}) {
            text += line;
            text += lineEnd;
        }
        text.resize(text.size() - std::string(lineEnd).size());
        WriteFile(path, text);
        const TIniFile ini(path);
        const struct {
            const char* section;
            const char* key;
        } probes[] = {
            {"main", "NAME"}, {"Main", "Empty"},    {"Main", "Inner"},     {"Main", "Hidden"},
            {"Main", "Late"}, {"Main", "Loose"},    {"Main", "NoEquals"},  {"MAIN", "name"},
            {"1", "dbfile"},  {"1", "BackupTime0"}, {"1", "ArcFileCount"}, {"1", "BackupTime1"},
            {"1", "Half"},    {"Last", "k"},        {"Missing", "K"},      {"empty", "x"},
        };
        for (const auto& p : probes) {
            EXPECT_EQ(ini.ReadString(p.section, p.key, kDefault),
                      SystemRead(path, p.section, p.key))
                << "[" << p.section << "] " << p.key << " with line ends of "
                << std::string(lineEnd).size() << " bytes";
        }
    }
}

// The one difference, and a deliberate one: the system takes the quotes off
// a value that is quoted whole, so a description typed in quotes would lose
// them on its way through the file. Ours gives back what was written.
TEST(ProfileParityTest, QuotesAroundAValueAreKept) {
    TempDir dir;
    const std::string path = dir.File("Quillmoor.bse");
    WriteFile(path, "[0]\r\nDiscription=\"in quotes\"\r\n");
    EXPECT_EQ(TIniFile(path).ReadString("0", "Discription", kDefault), "\"in quotes\"");
    EXPECT_EQ(SystemRead(path, "0", "Discription"), "in quotes");
}

TEST(ProfileParityTest, LongValuesAreCutWhereTheSystemCutsThem) {
    TempDir dir;
    const std::string path = dir.File("Quillmoor.bse");
    std::string value;
    for (int i = 0; i < 3000; ++i) value += "я";
    WriteFile(path, "[0]\r\nDiscription=" + platform::Utf8ToSystem8Bit(value) + "\r\n");
    const std::string ours = TIniFile(path).ReadString("0", "Discription", kDefault);
    EXPECT_EQ(platform::Utf8ToSystem8Bit(ours), SystemRead(path, "0", "Discription"));
    EXPECT_EQ(ours.size(), 2047u * 2);  // 2047 characters of two UTF-8 bytes
}

TEST(ProfileParityTest, TheSystemReadsWhatWeWriteInItsCodePage) {
    ASSERT_EQ(::GetACP(), 1251u) << "the tests run as on a Russian system";
    TempDir dir;
    test::ScopedDataDir dataDir(dir.Path());
    TFirebirdBase b;
    b.Number = 0;
    b.Description = "Склад, главная база";
    b.DBFile = "C:\\Базы\\STORE.FDB";
    b.ArcDir = "D:\\Архив";
    b.Active = true;
    b.Mon = true;
    b.BackupTimes = {"10:30", "22:00"};
    TFirebirdBaseList::SaveFirebirdBase(b);

    const std::string path = ListFilePath();
    // "Склад" in Windows-1251.
    EXPECT_NE(ReadFile(path).find("\xD1\xEA\xEB\xE0\xE4"), std::string::npos);
    EXPECT_EQ(platform::System8BitToUtf8(SystemRead(path, "0", "DBFile")), b.DBFile);
    EXPECT_EQ(platform::System8BitToUtf8(SystemRead(path, "0", "ArcDir")), b.ArcDir);
    EXPECT_EQ(SystemRead(path, "0", "BackupTime1"), "22:00");

    const TFirebirdBaseList back(true);
    ASSERT_EQ(back.Count(), 1u);
    EXPECT_EQ(back[0]->Description, b.Description);
    EXPECT_EQ(back[0]->DBFile, b.DBFile);
}

TEST(ProfileParityTest, WeReadWhatTheSystemWrites) {
    TempDir dir;
    const std::string path = dir.File("Quillmoor.srv");
    const std::string value = platform::Utf8ToSystem8Bit("пароль и путь C:\\Firebird");
    ASSERT_TRUE(
        ::WritePrivateProfileStringA("Setting", "LibraryName", value.c_str(), path.c_str()));
    ASSERT_TRUE(::WritePrivateProfileStringA("Setting", "Server", "localhost/3050", path.c_str()));
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("setting", "libraryname", kDefault), "пароль и путь C:\\Firebird");
    EXPECT_EQ(ini.ReadString("Setting", "Server", kDefault), "localhost/3050");

    // Our edit keeps the system's lines and the system reads ours.
    ini.WriteString("Setting", "Server", "db.example/3051");
    ini.UpdateFile();
    EXPECT_EQ(SystemRead(path, "Setting", "Server"), "db.example/3051");
    EXPECT_EQ(SystemRead(path, "Setting", "LibraryName"), value);
}

}  // namespace
}  // namespace qm
