#include "operations/script_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

TEST(ScriptTextTest, ComesToUtf8FromTheCharacterSetOfTheRun) {
    struct Case {
        const char* charSet;
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"WIN1251", "\xD1\xEA\xEB\xE0\xE4", "Склад"},
        {"win1251", "\xD1\xEA\xEB\xE0\xE4", "Склад"},
        {"CYRL", "\xC6\xE6", "Жж"},
        {"DOS866", "\x91\xAA\xAB\xA0\xA4", "Склад"},
        {"KOI8R", "\xF3\xCB\xCC\xC1\xC4", "Склад"},
        {"ISO8859_1", "caf\xE9", "café"},
        {"WIN1252", "\x80", "€"},
        // A byte the code page leaves undefined, and the text goes on.
        {"WIN1251",
         "a\x98"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        // UTF-8 and the sets without a code page stay as they are.
        {"UTF8", "Склад", "Склад"},
        {"UNICODE_FSS", "Склад", "Склад"},
        {"NONE", "Склад", "Склад"},
        {"", "Склад", "Склад"},
        {"OCTETS", "\xD1\xEA", "\xD1\xEA"},
        {"NO_SUCH_SET", "\xD1\xEA", "\xD1\xEA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charSet);
        EXPECT_EQ(ScriptTextToUtf8(c.bytes, c.charSet), c.shown);
    }
}

}  // namespace
}  // namespace qm
