#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firebird/database.h"
#include "firebird/errors.h"
#include "firebird/param_block.h"
#include "firebird/transaction.h"

namespace qm {
namespace {

// The bytes of a text, for building expected buffers.
Bytes B(std::initializer_list<int> bytes, const std::string& tail = {}) {
    Bytes out;
    for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The text of the EFbClientError a builder raises ("" when it raises none).
template <class F>
std::string Refusal(F build, int* number = nullptr) {
    try {
        build();
    } catch (const EFbClientError& e) {
        if (number != nullptr) *number = e.SQLCode();
        return e.Message();
    }
    return "";
}

TEST(Dpb, BuildsTheBytesOfEachItemForm) {
    struct Case {
        std::vector<std::string> lines;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {{"user_name=SYSDBA", "lc_ctype=WIN1251", "password=secret"},
         Cat({B({1, 28, 6}, "SYSDBA"), B({48, 7}, "WIN1251"), B({29, 6}, "secret")})},
        {{"  password=x  "}, B({1, 29, 1}, "x")},
        {{"isc_dpb_user_name=a"}, B({1, 28, 1}, "a")},
        {{"USER_NAME=a"}, B({1, 28, 1}, "a")},
        {{"force_write=0"}, B({1, 24, 1, 0})},
        {{"sweep=yes"}, B({1, 10, 1, 2})},
        {{"sql_dialect=3"}, B({1, 63, 1, 3})},
        {{"password="}, B({1, 29, 0})},
        {{"num_buffers=300"}, B({1, 5, 1, 44})},
        {{"sweep_interval=20000"}, B({1, 22, 4, 0x20, 0x4E, 0, 0})},
        {{"no_garbage_collect"}, B({1, 16, 1, 0})},
        {{"sql_role_name=ADMIN", "", "instance_name=i"},
         Cat({B({1, 60, 5}, "ADMIN"), B({75, 1}, "i")})},
        {{}, B({1})},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = c.lines;
        EXPECT_EQ(TFbDatabase::BuildDPB(lines), c.expected) << (c.lines.empty() ? "" : c.lines[0]);
    }
}

TEST(Dpb, StripsLinesInPlace) {
    std::vector<std::string> lines = {"  password=x  ", "\tuser_name=A\r"};
    TFbDatabase::BuildDPB(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"password=x", "user_name=A"}));
}

TEST(Dpb, RefusesUnsupportedUnknownAndOverlongItems) {
    struct Case {
        std::string line;
        int number;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"page_size=4096", 8, "DPB Constant (isc_dpb_page_size) is unsupported."},
        {"gbak_ods_version=1", 8, "DPB Constant (isc_dpb_gbak_ods_version) is unsupported."},
        {"foo=1", 9, "DPB Constant (foo) is unknown."},
        {"user_name =a", 9, "DPB Constant (user_name ) is unknown."},
        {"password=" + std::string(256, 'p'), 8,
         "The value of isc_dpb_password is longer than 255 bytes (256 bytes)."},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = {c.line};
        int number = -1;
        EXPECT_EQ(Refusal([&] { TFbDatabase::BuildDPB(lines); }, &number), c.message);
        EXPECT_EQ(number, c.number) << c.line;
    }
    std::vector<std::string> lines = {"password=" + std::string(255, 'p')};
    EXPECT_EQ(TFbDatabase::BuildDPB(lines).size(), 1u + 2u + 255u);
}

TEST(Dpb, NonNumericValueFailsWithTheIntegerReadersError) {
    std::vector<std::string> lines = {"num_buffers=many"};
    try {
        TFbDatabase::BuildDPB(lines);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'many' is not a valid integer value");
    }
}

TEST(Tpb, BuildsTheBytesOfEachItemForm) {
    struct Case {
        std::vector<std::string> lines;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {{"write", "isc_tpb_nowait", "read_committed", "rec_version"}, B({3, 9, 7, 15, 17})},
        {{"write", "isc_tpb_nowait", "concurrency"}, B({3, 9, 7, 2})},
        {{"write", "", "concurrency"}, B({3, 9, 2})},
        {{"lock_write=CUSTOMER"}, B({3, 11, 8}, "CUSTOMER")},
        {{"ISC_TPB_READ", "no_savepoint"}, B({3, 8, 21})},
        {{}, B({})},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = c.lines;
        EXPECT_EQ(TFbBasicTransaction::BuildTPB(lines), c.expected);
    }
}

TEST(Tpb, RefusesUnsupportedUnknownAndOverlongItems) {
    struct Case {
        std::string line;
        int number;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"autocommit", 10, "TPB Constant (isc_tpb_autocommit) is unsupported."},
        {"verb_time", 10, "TPB Constant (isc_tpb_verb_time) is unsupported."},
        {"foo", 11, "TPB Constant (foo) is unknown."},
        {"lock_read=" + std::string(300, 'T'), 10,
         "The value of isc_tpb_lock_read is longer than 255 bytes (300 bytes)."},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = {c.line};
        int number = -1;
        EXPECT_EQ(Refusal([&] { TFbBasicTransaction::BuildTPB(lines); }, &number), c.message);
        EXPECT_EQ(number, c.number);
    }
}

TEST(InfoCursor, RefusesToReadPastItsBytes) {
    const std::uint8_t answer[] = {62, 3, 0, 'a', 'b'};
    InfoCursor c(answer, sizeof answer, "a test answer");
    EXPECT_EQ(c.Byte(), 62);
    const std::size_t length = c.UInt16();
    int number = -1;
    const std::string message = Refusal([&] { c.Text(length); }, &number);
    EXPECT_EQ(number, 70);
    EXPECT_EQ(message,
              "Unexpected Output buffer value: a test answer: 3 bytes wanted at offset 3 of an "
              "answer of 5 bytes.");
    EXPECT_EQ(c.Text(2), "ab");
    EXPECT_TRUE(c.AtEnd());
}

TEST(InfoCursor, ReadsLittleEndianSignedIntegers) {
    const std::uint8_t answer[] = {0xFE, 0xFF, 0x10, 0x27, 0, 0};
    InfoCursor c(answer, sizeof answer, "ints");
    EXPECT_EQ(c.Integer(2), -2);
    EXPECT_EQ(c.Integer(4), 10000);
    EXPECT_NE(Refusal([&] { InfoCursor(answer, 6, "x").Integer(9); }), "");
}

}  // namespace
}  // namespace qm
