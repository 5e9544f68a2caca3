#include "archiver/retention.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace qm::archiver {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ArchiveNames, OnlyTheRecordsOwnArchiveNamesHaveAStamp) {
    struct Case {
        const char* name;
        const char* stamp;  // nullptr: not one of the record's archives
    } cases[] = {
        {"STORE 2024_03_05 14-30.fbk", "2024_03_05 14-30"},
        {"STORE 2024_03_05 14-30.zip", "2024_03_05 14-30"},
        {"STORE 2024_03_05 14-30.fbk.qmpart", nullptr},
        {"STORE 2024_03_05 14-30.zip.qmpart", nullptr},
        {"STORE 2024_03_05 14-30.txt", nullptr},
        {"STORE2 2024_03_05 14-30.fbk", nullptr},
        {"OLDSTORE 2024_03_05 14-30.fbk", nullptr},
        {"STORE 2024_03_05 14-30 copy.fbk", nullptr},
        {"STORE 2024-03-05 14-30.fbk", nullptr},
        {"STORE 2024_03_05 14:30.fbk", nullptr},
        {"STORE 2024_3_05 14-30.fbk", nullptr},
        {"STORE.fbk", nullptr},
        {"STORE 2024_03_05 14-30.fdb", nullptr},
        {"STORE  2024_03_05 14-30.fbk", nullptr},
    };
    for (const Case& c : cases) {
        const auto s = ArchiveStamp(c.name, "STORE");
        if (c.stamp == nullptr)
            EXPECT_FALSE(s.has_value()) << c.name;
        else
            EXPECT_EQ(s.value_or("none"), c.stamp) << c.name;
    }
    // Names with blanks and Cyrillic letters, as databases have them.
    EXPECT_EQ(ArchiveStamp("Склад 1 2024_03_05 14-30.zip", "Склад 1").value_or(""),
              "2024_03_05 14-30");
    EXPECT_EQ(DatabaseNamePart(std::string("arc") + platform::kPathDelim + "Склад 1"), "Склад 1");
}

TEST(ArchiveNames, TemporaryFilesOfTheService) {
    EXPECT_TRUE(IsPartFileName("STORE 2024_03_05 14-30.fbk.qmpart"));
    EXPECT_TRUE(IsPartFileName("Склад 2024_03_05 14-30.zip.qmpart"));
    EXPECT_FALSE(IsPartFileName("STORE 2024_03_05 14-30.fbk"));
    EXPECT_FALSE(IsPartFileName("notes.qmpart"));
    EXPECT_FALSE(IsPartFileName("STORE 2024_03_05 14-30.doc.qmpart"));
    EXPECT_FALSE(IsPartFileName(".qmpart"));
}

TEST(KeepN, TheOldestArchivesBeyondTheCountAndNothingElse) {
    const std::vector<std::string> dir = {
        "STORE 2024_03_01 10-00.fbk", "STORE 2024_03_02 10-00.zip",
        "STORE 2024_03_02 10-00.fbk",  // the same archive in both forms
        "STORE 2024_03_03 10-00.zip", "STORE 2024_03_04 10-00.zip",
        "STORE 2024_03_05 10-00.zip",  // the one just made
        "OTHER 2024_01_01 10-00.fbk",  "STORE.fdb", "notes.txt",
        "STORE 2024_01_01 10-00.fbk.qmpart", "STORE 2024_01_01 10-00 old.fbk"};
    const std::string made = "2024_03_05 10-00";
    EXPECT_THAT(ArchivesBeyondCount(dir, "STORE", 3, made),
                ElementsAre("STORE 2024_03_01 10-00.fbk", "STORE 2024_03_02 10-00.fbk",
                            "STORE 2024_03_02 10-00.zip"));
    EXPECT_THAT(ArchivesBeyondCount(dir, "STORE", 1, made),
                ElementsAre("STORE 2024_03_01 10-00.fbk", "STORE 2024_03_02 10-00.fbk",
                            "STORE 2024_03_02 10-00.zip", "STORE 2024_03_03 10-00.zip",
                            "STORE 2024_03_04 10-00.zip"));
    EXPECT_THAT(ArchivesBeyondCount(dir, "STORE", 5, made), IsEmpty());
    EXPECT_THAT(ArchivesBeyondCount(dir, "STORE", 0, made), IsEmpty());
    EXPECT_THAT(ArchivesBeyondCount(dir, "STORE", -3, made), IsEmpty());
    // An archive made with the clock set back is still the one kept.
    EXPECT_THAT(ArchivesBeyondCount(dir, "STORE", 1, "2024_02_01 10-00"),
                ::testing::Not(::testing::Contains("STORE 2024_02_01 10-00.zip")));
    const auto back = ArchivesBeyondCount(
        {"STORE 2024_02_01 10-00.zip", "STORE 2024_03_05 10-00.zip"}, "STORE", 2,
        "2024_02_01 10-00");
    EXPECT_THAT(back, IsEmpty());
}

}  // namespace
}  // namespace qm::archiver
