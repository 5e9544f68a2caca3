#include "firebird/sql_text.h"

#include <gtest/gtest.h>

#include "firebird/sql_values.h"

namespace qm {
namespace {

TEST(SqlKind, ClassifiesByTheFirstWords) {
    struct Case {
        const char* text;
        int kind;
    };
    const Case cases[] = {
        {"CREATE TABLE T (N INTEGER)", sqkSchema},
        {"SET GENERATOR G TO 5", sqkSchema},
        {"set  generator G to 5", sqkSchema},
        {"SET TRANSACTION", sqkOther},
        {"SET TERM ^", sqkOther},
        {"SAVEPOINT S1", sqkSchema},
        {"select * from t", sqkSelect},
        {"MERGE INTO T USING S ON 1=1", sqkSelect},
        {"XSELECT 1", sqkOther},
        {"SELECTX 1", sqkSchema},  // not SELECT, but a word starting with S
        {"/* note */\nINSERT INTO T VALUES (1)", sqkInsert},
        {"-- note\r\n  update T set N = 1", sqkUpdate},
        {"delete from T", sqkDelete},
        {"EXECUTE PROCEDURE P", sqkExecuteProcedure},
        {"execute /* x */ procedure P(1)", sqkExecuteProcedure},
        {"EXECUTE BLOCK AS BEGIN END", sqkExecuteBlock},
        {"EXECUTE STATEMENT 'x'", sqkOther},
        {"SELECT(1) FROM RDB$DATABASE", sqkSelect},
        {"SELECT;", sqkSelect},
        {"SELECT*FROM T", sqkSchema},
        {"ALTER TABLE T ADD X INT", sqkSchema},
        {"RECREATE VIEW V AS SELECT 1 FROM RDB$DATABASE", sqkSchema},
        {"COMMENT ON TABLE T IS 'x'", sqkSchema},
        {"DECLARE EXTERNAL FUNCTION F", sqkSchema},
        {"grant select on T to PUBLIC", sqkSchema},
        {"REVOKE ALL ON T FROM U", sqkSchema},
        {"DROP TABLE T", sqkSchema},
        {"COMMIT", sqkOther},
        {"WITH X AS (SELECT 1 A FROM RDB$DATABASE) SELECT A FROM X", sqkOther},
        {"", sqkOther},
        {"   /* only a comment", sqkOther},
        {"\"SELECT\"", sqkOther},
    };
    for (const Case& c : cases) EXPECT_EQ(ClassifySql(c.text), c.kind) << c.text;
}

TEST(ParameterMarkers, NamedAndBareMarkersBecomeQuestionMarks) {
    struct Case {
        const char* text;
        int kind;
        const char* sent;
        std::vector<std::string> names;
        const char* error;
    };
    const Case cases[] = {
        {"update RDB$GENERATORS SET RDB$DESCRIPTION = ?DESC where (RDB$GENERATOR_NAME = ?GEN_NAME)",
         sqkUpdate,
         "update RDB$GENERATORS SET RDB$DESCRIPTION = ? where (RDB$GENERATOR_NAME = ?)",
         {"DESC", "GEN_NAME"},
         ""},
        {"UPDATE T SET A = :DESCR WHERE B = :FIELD",
         sqkUpdate,
         "UPDATE T SET A = ? WHERE B = ?",
         {"DESCR", "FIELD"},
         ""},
        {"INSERT INTO T VALUES (?, ?)", sqkInsert, "INSERT INTO T VALUES (?, ?)", {"", ""}, ""},
        {"SELECT ':X', \":Y\", 'it''s :Z' FROM T -- :W\nWHERE A = :A /* :B */",
         sqkSelect,
         "SELECT ':X', \":Y\", 'it''s :Z' FROM T -- :W\nWHERE A = ? /* :B */",
         {"A"},
         ""},
        {"SELECT q'{it's :X}' FROM T WHERE A = :A",
         sqkSelect,
         "SELECT q'{it's :X}' FROM T WHERE A = ?",
         {"A"},
         ""},
        {"CREATE PROCEDURE P AS DECLARE X INT; BEGIN X = :X; END",
         sqkSchema,
         "CREATE PROCEDURE P AS DECLARE X INT; BEGIN X = :X; END",
         {},
         ""},
        {"EXECUTE BLOCK (P INT = :P) AS DECLARE X INT; BEGIN X = :P; END",
         sqkExecuteBlock,
         "EXECUTE BLOCK (P INT = ?) AS DECLARE X INT; BEGIN X = :P; END",
         {"P"},
         ""},
        {"SELECT 1 FROM T /* open",
         sqkSelect,
         "SELECT 1 FROM T /* open",
         {},
         "EOF in comment detected"},
        {"SELECT 'open FROM T", sqkSelect, "SELECT 'open FROM T", {}, "EOF in string detected"},
        {"SELECT \"open FROM T", sqkSelect, "SELECT \"open FROM T", {}, "EOF in string detected"},
        {"SELECT A FROM T WHERE B = 'x' -- open comment at the end",
         sqkSelect,
         "SELECT A FROM T WHERE B = 'x' -- open comment at the end",
         {},
         ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ClassifySql(c.text), c.kind) << c.text;
        const ParameterizedSql p = ReplaceParameterMarkers(c.text, c.kind);
        EXPECT_EQ(p.error, c.error) << c.text;
        if (p.error.empty()) {
            EXPECT_EQ(p.text, c.sent) << c.text;
        }
        EXPECT_EQ(p.names, c.names) << c.text;
    }
    const ParameterizedSql off = ReplaceParameterMarkers("SELECT :A FROM T", sqkSelect, false);
    EXPECT_EQ(off.text, "SELECT :A FROM T");
    EXPECT_TRUE(off.names.empty());
}

TEST(SqlValues, DatesRoundTripThroughDayNumbers) {
    struct Case {
        int y, m, d;
        std::int32_t days;
    };
    const Case cases[] = {{1858, 11, 17, 0},
                          {1970, 1, 1, 40587},
                          {2000, 2, 29, 51603},
                          {1, 1, 1, -678575},
                          {9999, 12, 31, 2973483}};
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeFbDate(c.y, c.m, c.d), c.days);
        int y = 0, m = 0, d = 0;
        DecodeFbDate(c.days, y, m, d);
        EXPECT_EQ((std::vector<int>{y, m, d}), (std::vector<int>{c.y, c.m, c.d}));
    }
    EXPECT_EQ(EncodeFbTime(13, 45, 10, 5), 495100005u);
}

TEST(SqlValues, DateAndTimeTexts) {
    struct Case {
        const char* text;
        bool ok;
        FbDateTime value;
        bool hasDate;
        bool hasTime;
    };
    const Case cases[] = {
        {"2024-02-29", true, {2024, 2, 29, 0, 0, 0, 0}, true, false},
        {"31.12.2023 23:59:58.5", true, {2023, 12, 31, 23, 59, 58, 5000}, true, true},
        {"12/31/2023", true, {2023, 12, 31, 0, 0, 0, 0}, true, false},
        {" 2024-01-02T03:04 ", true, {2024, 1, 2, 3, 4, 0, 0}, true, true},
        {"13:45:10.1234", true, {1858, 11, 17, 13, 45, 10, 1234}, false, true},
        {"2023-02-29", false, {}, false, false},
        {"24:00", false, {}, false, false},
        {"NOW", false, {}, false, false},
        {"2024-01-02 x", false, {}, false, false},
    };
    for (const Case& c : cases) {
        const auto p = ParseFbDateTime(c.text);
        ASSERT_EQ(p.has_value(), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(p->value, c.value) << c.text;
        EXPECT_EQ(p->hasDate, c.hasDate) << c.text;
        EXPECT_EQ(p->hasTime, c.hasTime) << c.text;
    }
}

TEST(SqlValues, ScaledIntegers) {
    struct Case {
        const char* text;
        int scale;
        std::optional<std::int64_t> value;
    };
    const std::int64_t lo = INT32_MIN;
    const std::int64_t hi = INT32_MAX;
    const Case cases[] = {
        {"12.345", -2, 1235},  {"-12.345", -2, -1235}, {"3,25", -2, 325}, {"1e3", 0, 1000},
        {"2.5E-1", -2, 25},    {"0.004", -2, 0},       {"7", -4, 70000},  {"2147483647", 0, hi},
        {"2147483648", 0, {}}, {"-2147483648", 0, lo}, {"12a", 0, {}},    {"", 0, {}},
        {".", 0, {}},          {" 42 ", 0, 42},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseScaledInteger(c.text, c.scale, lo, hi), c.value) << c.text;
    EXPECT_EQ(ParseScaledInteger("-9223372036854775808", 0, INT64_MIN, INT64_MAX), INT64_MIN);
    EXPECT_EQ(ParseScaledInteger("9223372036854775808", 0, INT64_MIN, INT64_MAX), std::nullopt);
    EXPECT_EQ(FormatScaledInteger(1235, -2), "12.35");
    EXPECT_EQ(FormatScaledInteger(-5, -3), "-0.005");
    EXPECT_EQ(FormatScaledInteger(INT64_MIN, -2), "-92233720368547758.08");
}

}  // namespace
}  // namespace qm
