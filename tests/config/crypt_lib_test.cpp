#include "config/crypt_lib.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

TCryptLib MakeCipher(const std::string& password, std::int32_t addKey, std::int32_t multKey) {
    TCryptLib c;
    c.SetPassword(password);
    c.SetAddKey(addKey);
    c.SetMultKey(multKey);
    return c;
}

TCryptLib SettingsCipher() { return MakeCipher("MQ%&TK7B&2", 20090417, 19830512); }

// Bytes (i * 7 + 3) mod 256, so that every byte value occurs.
std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) % 256);
    return s;
}

// Computed by a separate model of the algorithm, not by this code: a change of
// any constant, range or order breaks them.
struct KnownAnswer {
    const char* password;
    std::int32_t addKey;
    std::int32_t multKey;
    std::string text;
    const char* hex;
};

TEST(CryptLibTest, KnownAnswers) {
    std::string bytes40;
    for (int i = 0; i < 40; ++i) bytes40 += static_cast<char>(i);
    const KnownAnswer cases[] = {
        {"MQ%&TK7B&2", 20090417, 19830512, "plumstone", "96BB8996B6AE0D134E"},
        {"MQ%&TK7B&2", 20090417, 19830512, "masterkey", "F7196CCF7335102F46"},
        {"MQ%&TK7B&2", 20090417, 19830512, "A", "46"},
        {"MQ%&TK7B&2", 20090417, 19830512, "Пароль", "C84CB4906B72B37500A5A0DE"},
        {"", 1, 1, "abc", "740052"},
        {"123456789012", -7, 2147483647, "The quick brown fox",
         "3BF1084C642DA3E831AEFDFF12F154D04FF068"},
        {"key", -2, -3, bytes40,
         "7FE0AA21D07DC7BE8D4C0739789FDC506E2A56097D1D0791C80EAD6F641A61AF0AFB4BBE8E4E8081"},
    };
    for (const KnownAnswer& k : cases) {
        SCOPED_TRACE(k.text);
        TCryptLib c = MakeCipher(k.password, k.addKey, k.multKey);
        EXPECT_EQ(c.EncryptString(k.text), k.hex);
        EXPECT_EQ(c.DecryptString(k.hex), k.text);
    }
}

TEST(CryptLibTest, KnownAnswersAcrossChunks) {
    TCryptLib c = SettingsCipher();
    const std::string full = c.EncryptString(Pattern(32768));
    ASSERT_EQ(full.size(), 65536u);
    EXPECT_EQ(full.substr(0, 32), "F870D298F3B7AA3B25521B742F6669F7");
    EXPECT_EQ(full.substr(65504), "A63C7EA420047D2409FC792975E266FA");

    // The generator and the key word carry over into the second and third chunk.
    const std::string three = c.EncryptString(Pattern(70000));
    ASSERT_EQ(three.size(), 140000u);
    EXPECT_EQ(three.substr(65520, 32), "09FC792975E266FA130FEF2071C9B6C5");
    EXPECT_EQ(three.substr(139968), "6F33CD2F88A3539A2E6B0BB0DC67587C");
}

TEST(CryptLibTest, RoundTripsAtChunkBoundaries) {
    TCryptLib c = SettingsCipher();
    for (std::size_t n : {0u, 1u, 2u, 32767u, 32768u, 32769u, 65536u, 70000u}) {
        SCOPED_TRACE(n);
        const std::string text = Pattern(n);
        const std::string hex = c.EncryptString(text);
        EXPECT_EQ(hex.size(), 2 * n);
        EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        EXPECT_EQ(c.DecryptString(hex), text);
        // The same input gives the same result: nothing carries between calls.
        EXPECT_EQ(c.EncryptString(text), hex);
    }
}

TEST(CryptLibTest, DecryptAcceptsLowercaseAndIgnoresOddLastDigit) {
    TCryptLib c = SettingsCipher();
    EXPECT_EQ(c.DecryptString("96bb8996b6ae0d134e"), "plumstone");
    EXPECT_EQ(c.DecryptString("96BB8996B6AE0D134E7"), "plumstone");
    EXPECT_EQ(c.DecryptString("7"), "");
}

TEST(CryptLibTest, DecryptRefusesNonHexPairs) {
    TCryptLib c = SettingsCipher();
    for (const char* bad : {"G1", "1G", "96BB89 6", "plumstone!", "-1", "0x"}) {
        SCOPED_TRACE(bad);
        try {
            c.DecryptString(bad);
            ADD_FAILURE() << "no error";
        } catch (const ECryptError& e) {
            EXPECT_STREQ(e.what(), "TCryptLib: decrypting error - not hexlook string");
        }
    }
}

TEST(CryptLibTest, PasswordLongerThanTwelveBytesIsRefusedAndCleared) {
    TCryptLib c;
    c.SetPassword("123456789012");
    EXPECT_EQ(c.Password(), "123456789012");
    try {
        c.SetPassword("1234567890123");
        ADD_FAILURE() << "no error";
    } catch (const ECryptError& e) {
        EXPECT_STREQ(e.what(), "TCryptLib.Password is too long");
    }
    EXPECT_EQ(c.Password(), "");
}

TEST(CryptLibTest, KeysZeroAndMinusOneAreRefusedLeavingOne) {
    for (std::int32_t bad : {0, -1}) {
        SCOPED_TRACE(bad);
        TCryptLib c = SettingsCipher();
        try {
            c.SetAddKey(bad);
            ADD_FAILURE() << "no error";
        } catch (const ECryptError& e) {
            EXPECT_STREQ(e.what(), "TCryptLib.AddKey is too big");
        }
        EXPECT_EQ(c.AddKey(), 1);
        try {
            c.SetMultKey(bad);
            ADD_FAILURE() << "no error";
        } catch (const ECryptError& e) {
            EXPECT_STREQ(e.what(), "TCryptLib.MultKey is too big");
        }
        EXPECT_EQ(c.MultKey(), 1);
    }
}

}  // namespace
}  // namespace qm
