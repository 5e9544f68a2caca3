#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Conversions between texts and the client API's value encodings: dates as
// days since 17 November 1858, times in units of 1/10000 second since
// midnight, exact numerics as scaled 64-bit integers.
namespace qm {

struct FbDateTime {
    int year = 1858;
    int month = 11;
    int day = 17;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int fraction = 0;  // 1/10000 second
    bool operator==(const FbDateTime&) const = default;
};

// Days since 17 November 1858 of a date of the proleptic Gregorian calendar.
std::int32_t EncodeFbDate(int year, int month, int day);
// The date of a day number.
void DecodeFbDate(std::int32_t days, int& year, int& month, int& day);
// 1/10000 seconds since midnight.
std::uint32_t EncodeFbTime(int hour, int minute, int second, int fraction);
void DecodeFbTime(std::uint32_t time, int& hour, int& minute, int& second, int& fraction);

// The moment as days since 17 November 1858, with the time as a fraction.
double DaysOf(const FbDateTime& t);

// What a text held when read as a date, a time or both.
struct ParsedDateTime {
    FbDateTime value;
    bool hasDate = false;
    bool hasTime = false;
};

// Reads "yyyy-mm-dd", "dd.mm.yyyy" or "mm/dd/yyyy", optionally followed by a
// blank or "T" and "hh:mm[:ss[.ffff]]", or the time alone; blanks around are
// allowed. Nothing when the text is none of these or names an impossible
// date or time.
std::optional<ParsedDateTime> ParseFbDateTime(const std::string& text);

// Reads a decimal number ("-12.5", "3,25", "1e3") into an integer scaled by
// 10^scale (scale <= 0: -2 stores 12.5 as 1250), rounding half away from
// zero, and checks it against [min, max]. Nothing when the text is not a
// number or the value does not fit.
std::optional<std::int64_t> ParseScaledInteger(const std::string& text, int scale, std::int64_t min,
                                               std::int64_t max);

// Reads a floating-point number ("." or "," before the fraction); nothing
// when the text is not one.
std::optional<double> ParseFloat(const std::string& text);

// Reads true/false, t/f, yes/no, y/n, 1/0 in any case.
std::optional<bool> ParseBoolean(const std::string& text);

// The text of a scaled integer: 1250 at scale -2 is "12.50".
std::string FormatScaledInteger(std::int64_t value, int scale);
std::string FormatFbDate(int year, int month, int day);                    // yyyy-mm-dd
std::string FormatFbTime(int hour, int minute, int second, int fraction);  // hh:mm:ss.ffff
std::string FormatFloat(double value);

}  // namespace qm
