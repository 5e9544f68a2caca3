#include "config/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class IniFileTest : public ::testing::Test {
protected:
    TIniFile Parse(const std::string& text) {
        WriteFile(path_, text);
        return TIniFile(path_);
    }
    TempDir dir_;
    std::string path_ = dir_.File("test.ini");
};

TEST_F(IniFileTest, ReadingRules) {
    TIniFile ini = Parse(
        "Loose=before any section\n"
        "  [Main]  \r\n"
        "; Hidden=comment\r\n"
        "  Name  =  padded value \t\r\n"
        "Empty=\n"
        "NoEquals\n"
        "Name=second of the name\n"
        "Inner=a = b\n"
        "[empty]\n"
        "\n"
        "[MAIN]\n"
        "Late=in the second section of the name\n"
        "[Last]\n"
        "K=no end of line");
    EXPECT_EQ(ini.ReadString("main", "NAME", "d"), "padded value");
    EXPECT_EQ(ini.ReadString("Main", "Empty", "d"), "");
    EXPECT_EQ(ini.ReadString("Main", "Inner", "d"), "a = b");
    EXPECT_EQ(ini.ReadString("Main", "Hidden", "d"), "d");
    EXPECT_EQ(ini.ReadString("Main", "Late", "d"), "d");
    EXPECT_EQ(ini.ReadString("Main", "Loose", "d"), "d");
    EXPECT_EQ(ini.ReadString("Last", "k", "d"), "no end of line");
    // A key line without "=" exists but has no value.
    EXPECT_TRUE(ini.ValueExists("Main", "noequals"));
    EXPECT_EQ(ini.ReadString("Main", "NoEquals", "d"), "d");
    EXPECT_FALSE(ini.ValueExists("Main", "Hidden"));

    EXPECT_TRUE(ini.SectionExists("MAIN"));
    EXPECT_FALSE(ini.SectionExists("Empty"));
    EXPECT_FALSE(ini.SectionExists("Missing"));
    EXPECT_TRUE(ini.SectionExists("last"));
}

TEST_F(IniFileTest, ByteOrderMarkDoesNotHideFirstSection) {
    TIniFile ini = Parse("\xEF\xBB\xBF[0]\r\nActive=1\r\n");
    EXPECT_TRUE(ini.SectionExists("0"));
    EXPECT_EQ(ini.ReadInteger("0", "Active", 0), 1);
}

TEST_F(IniFileTest, MissingFileReadsAsEmpty) {
    TIniFile ini(dir_.File("none.ini"));
    EXPECT_EQ(ini.Text(), "");
    EXPECT_FALSE(ini.SectionExists("0"));
    EXPECT_EQ(ini.ReadInteger("0", "A", 7), 7);
}

#ifndef _WIN32
// On Windows the file is 8-bit and the limit counts its characters (the
// profile parity tests hold it to the system's).
TEST_F(IniFileTest, LongValuesAreCutAtCharacterBoundary) {
    struct Case {
        std::string value;
        std::size_t expected;
    } cases[] = {
        {std::string(2047, 'a'), 2047},
        {std::string(3000, 'a'), 2047},
        // "я" is two bytes: 2046 ASCII bytes and then a character across the limit.
        {std::string(2046, 'a') + "яя", 2046},
        {std::string(2045, 'a') + "яя", 2047},
        // A three-byte character straddling the limit by one and by two bytes.
        {std::string(2045, 'a') + "€x", 2045},
        {std::string(2046, 'a') + "€x", 2046},
        // Bytes that are not UTF-8 are cut at the limit.
        {std::string(2047, 'a') + std::string(10, '\x80'), 2047},
        {std::string(2040, 'a') + std::string(10, '\x80'), 2047},
    };
    for (const Case& c : cases) {
        TIniFile ini = Parse("[s]\nk=" + c.value + "\n");
        std::string v = ini.ReadString("s", "k", "");
        EXPECT_EQ(v.size(), c.expected);
        EXPECT_EQ(v, c.value.substr(0, c.expected));
    }
}
#endif

TEST_F(IniFileTest, Integers) {
    struct Case {
        const char* value;
        std::int32_t expected;
    } cases[] = {
        {"42", 42},
        {"  42  ", 42},
        {"-17", -17},
        {"+5", 5},
        {"0x10", 16},
        {"0X1f", 31},
        {"0x7FFFFFFF", 2147483647},
        {"0xFFFFFFFF", -1},
        {"0x000000010", 16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        // Not integers: the default.
        {"0x100000000", -99},
        {"2147483648", -99},
        {"-2147483649", -99},
        {"0x", -99},
        {"0xG", -99},
        {"yes", -99},
        {"1.5", -99},
        {"12abc", -99},
        {"-", -99},
        {"", -99},
        {"1 2", -99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        TIniFile ini = Parse(std::string("[s]\nk=") + c.value + "\n");
        EXPECT_EQ(ini.ReadInteger("s", "k", -99), c.expected);
    }
    TIniFile ini = Parse("[s]\nzero=0\none=1\nhex=0x0\nword=true\n");
    EXPECT_FALSE(ini.ReadBool("s", "zero", true));
    EXPECT_TRUE(ini.ReadBool("s", "one", false));
    EXPECT_FALSE(ini.ReadBool("s", "hex", true));
    EXPECT_FALSE(ini.ReadBool("s", "word", false));
    EXPECT_TRUE(ini.ReadBool("s", "word", true));
    EXPECT_TRUE(ini.ReadBool("s", "missing", true));
}

TEST_F(IniFileTest, WriteStringEditsOnlyItsLine) {
    TIniFile ini = Parse(
        "; head\r\n"
        "[A]\r\n"
        "x=1\r\n"
        "Key = old \r\n"
        "y=2\r\n"
        "\r\n"
        "[B]\r\n"
        "z=3");
    ini.WriteString("a", "KEY", "new");  // replaced in place, its CRLF kept
    ini.WriteString("A", "Added", "v");  // after the section's last key
    ini.WriteString("B", "w", "4");      // after a last line without end of line
    ini.WriteString("C", "k", "5");      // a new section at the end
    EXPECT_EQ(ini.Text(),
              "; head\r\n"
              "[A]\r\n"
              "x=1\r\n"
              "KEY=new\r\n"
              "y=2\r\n"
              "Added=v\n"
              "\r\n"
              "[B]\r\n"
              "z=3\n"
              "w=4\n"
              "[C]\n"
              "k=5\n");
    EXPECT_EQ(ini.ReadString("A", "key", ""), "new");
    EXPECT_EQ(ini.ReadString("C", "K", ""), "5");
}

TEST_F(IniFileTest, ReplaceSectionKeepsEverythingElse) {
    const std::string before =
        "\xEF\xBB\xBF; top comment\r\n"
        "[0]\r\n"
        "Active=1\r\n"
        "\r\n";
    const std::string after =
        "\r\n"
        "; about section 2\r\n"
        "[2]\r\n"
        "Odd  =  spacing   \r\n"
        "[1]\n"
        "second=copy of section 1, never read\n";
    TIniFile ini = Parse(before +
                         "[1]\r\n"
                         "Active=0\r\n"
                         "; a comment among the keys\r\n"
                         "HandAdded=x\r\n" +
                         after);
    ini.ReplaceSection("1", {{"Active", "1"}, {"DBFile", "/d/b.fdb"}});
    EXPECT_EQ(ini.Text(), before + "[1]\r\nActive=1\nDBFile=/d/b.fdb\n" + after);
    EXPECT_FALSE(ini.ValueExists("1", "HandAdded"));
}

TEST_F(IniFileTest, ReplaceSectionAppendsNewAndFillsEmptySection) {
    TIniFile ini = Parse("[a]\nk=1\n[b]\n[c]\nk=3");
    ini.ReplaceSection("B", {{"k", "2"}});
    ini.ReplaceSection("d", {{"k", "4"}});
    EXPECT_EQ(ini.Text(), "[a]\nk=1\n[b]\nk=2\n[c]\nk=3\n[d]\nk=4\n");
}

TEST_F(IniFileTest, LineBreaksCannotForgeLines) {
    TIniFile ini = Parse("[s]\nk=1\n");
    for (const std::string& bad :
         {std::string("a\n[t]\nk=2"), std::string("a\rb"), std::string("a\0b", 3)}) {
        EXPECT_THROW(ini.WriteString("s", "k", bad), EIniFileError);
        EXPECT_THROW(ini.ReplaceSection("s", {{"k", bad}}), EIniFileError);
    }
    EXPECT_THROW(ini.WriteString("s", "a=b", "v"), EIniFileError);
    EXPECT_THROW(ini.WriteString("s]x", "k", "v"), EIniFileError);
    EXPECT_EQ(ini.Text(), "[s]\nk=1\n");
}

TEST_F(IniFileTest, UpdateFileWritesAndRefuses) {
    TIniFile ini = Parse("[s]\nk=1\n");
    ini.WriteString("s", "k", "2");
    ini.UpdateFile();
    EXPECT_EQ(ReadFile(path_), "[s]\nk=2\n");
    // Only the target file: no temporary file stays behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                            std::filesystem::directory_iterator()),
              1);

    // A new file gets the requested mode.
    TIniFile fresh(dir_.File("new.ini"));
    fresh.WriteString("s", "k", "v");
    fresh.UpdateFile(0600);
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(::stat(dir_.File("new.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif

    // The path is a directory (unreadable, and not replaceable even by root),
    // or its directory does not exist.
    std::filesystem::create_directory(dir_.File("sub.ini"));
    for (const std::string& bad : {dir_.File("sub.ini"), dir_.File("no/such/dir.ini")}) {
        TIniFile ini2(bad);
        ini2.WriteString("s", "k", "v");
        try {
            ini2.UpdateFile();
            ADD_FAILURE() << "no error for " << bad;
        } catch (const EIniFileError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + bad);
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir_.File("sub.ini")));
}

}  // namespace
}  // namespace qm
