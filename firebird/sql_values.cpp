#include "firebird/sql_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace qm {

namespace {

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// 1858-11-17 is day -40587 from 1970-01-01.
constexpr std::int64_t kFbEpochOffset = 40587;
constexpr std::uint32_t kTicksPerSecond = 10000;
constexpr double kTicksPerDay = 86400.0 * kTicksPerSecond;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

std::string Trim(const std::string& s) {
    std::size_t a = 0;
    std::size_t b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r' || s[a] == '\n')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r' || s[b - 1] == '\n'))
        --b;
    return s.substr(a, b - a);
}

// Reads 1..maxDigits digits at pos into out.
bool ReadNumber(const std::string& s, std::size_t& pos, int maxDigits, int& out) {
    int n = 0;
    int digits = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && digits < maxDigits) {
        n = n * 10 + (s[pos] - '0');
        ++pos;
        ++digits;
    }
    out = n;
    return digits > 0;
}

bool ValidDate(int y, int m, int d) {
    return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

bool ParseDatePart(const std::string& s, std::size_t& pos, FbDateTime& v) {
    int a = 0;
    int b = 0;
    int c = 0;
    const std::size_t start = pos;
    if (!ReadNumber(s, pos, 4, a) || pos >= s.size()) return false;
    const char sep = s[pos];
    if (sep != '-' && sep != '.' && sep != '/') return false;
    ++pos;
    if (!ReadNumber(s, pos, 2, b) || pos >= s.size() || s[pos] != sep) return false;
    ++pos;
    if (!ReadNumber(s, pos, 4, c)) return false;
    const bool yearFirst = pos - start >= 8 && (s[start + 4] == sep);
    if (sep == '-' && yearFirst) {
        v.year = a, v.month = b, v.day = c;
    } else if (sep == '.') {
        v.day = a, v.month = b, v.year = c;
    } else if (sep == '/') {
        v.month = a, v.day = b, v.year = c;
    } else {
        return false;
    }
    return ValidDate(v.year, v.month, v.day);
}

bool ParseTimePart(const std::string& s, std::size_t& pos, FbDateTime& v) {
    if (!ReadNumber(s, pos, 2, v.hour) || pos >= s.size() || s[pos] != ':') return false;
    ++pos;
    if (!ReadNumber(s, pos, 2, v.minute)) return false;
    v.second = 0;
    v.fraction = 0;
    if (pos < s.size() && s[pos] == ':') {
        ++pos;
        if (!ReadNumber(s, pos, 2, v.second)) return false;
        if (pos < s.size() && s[pos] == '.') {
            ++pos;
            int digits = 0;
            int frac = 0;
            while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
                if (digits < 4) {
                    frac = frac * 10 + (s[pos] - '0');
                    ++digits;
                }
                ++pos;
            }
            if (digits == 0) return false;
            while (digits++ < 4) frac *= 10;
            v.fraction = frac;
        }
    }
    return v.hour < 24 && v.minute < 60 && v.second < 60;
}

}  // namespace

std::int32_t EncodeFbDate(int year, int month, int day) {
    return static_cast<std::int32_t>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kFbEpochOffset);
}

void DecodeFbDate(std::int32_t days, int& year, int& month, int& day) {
    CivilFromDays(static_cast<std::int64_t>(days) - kFbEpochOffset, year, month, day);
}

std::uint32_t EncodeFbTime(int hour, int minute, int second, int fraction) {
    return static_cast<std::uint32_t>(((hour * 60 + minute) * 60 + second)) * kTicksPerSecond +
           static_cast<std::uint32_t>(fraction);
}

void DecodeFbTime(std::uint32_t time, int& hour, int& minute, int& second, int& fraction) {
    fraction = static_cast<int>(time % kTicksPerSecond);
    std::uint32_t s = time / kTicksPerSecond;
    second = static_cast<int>(s % 60);
    s /= 60;
    minute = static_cast<int>(s % 60);
    hour = static_cast<int>(s / 60);
}

double DaysOf(const FbDateTime& t) {
    return static_cast<double>(EncodeFbDate(t.year, t.month, t.day)) +
           static_cast<double>(EncodeFbTime(t.hour, t.minute, t.second, t.fraction)) / kTicksPerDay;
}

std::optional<ParsedDateTime> ParseFbDateTime(const std::string& text) {
    const std::string s = Trim(text);
    ParsedDateTime out;
    std::size_t pos = 0;
    std::size_t probe = 0;
    FbDateTime v;
    if (ParseDatePart(s, probe, v)) {
        out.hasDate = true;
        pos = probe;
        if (pos < s.size() && (s[pos] == ' ' || s[pos] == 'T')) {
            ++pos;
            while (pos < s.size() && s[pos] == ' ') ++pos;
            if (!ParseTimePart(s, pos, v)) return std::nullopt;
            out.hasTime = true;
        }
    } else {
        v = FbDateTime{};
        pos = 0;
        if (!ParseTimePart(s, pos, v)) return std::nullopt;
        out.hasTime = true;
    }
    if (pos != s.size()) return std::nullopt;
    out.value = v;
    return out;
}

std::optional<std::int64_t> ParseScaledInteger(const std::string& text, int scale, std::int64_t min,
                                               std::int64_t max) {
    std::string s = Trim(text);
    if (s.empty() || scale > 0 || scale < -18) return std::nullopt;
    std::size_t pos = 0;
    bool negative = false;
    if (s[pos] == '+' || s[pos] == '-') negative = s[pos++] == '-';
    // Digits of the mantissa and where its decimal point stands.
    std::string digits;
    int pointAt = -1;
    for (; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c >= '0' && c <= '9') {
            digits += c;
        } else if ((c == '.' || c == ',') && pointAt < 0) {
            pointAt = static_cast<int>(digits.size());
        } else {
            break;
        }
    }
    if (digits.empty()) return std::nullopt;
    int exponent = 0;
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
        ++pos;
        const char* first = s.data() + pos;
        if (pos < s.size() && s[pos] == '+') ++first;
        auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), exponent);
        if (ec != std::errc() || exponent > 400 || exponent < -400) return std::nullopt;
        pos = static_cast<std::size_t>(ptr - s.data());
    }
    if (pos != s.size()) return std::nullopt;
    if (pointAt < 0) pointAt = static_cast<int>(digits.size());
    // The value is 0.digits * 10^(pointAt + exponent); scaled by 10^-scale.
    const int integerDigits = pointAt + exponent - scale;
    unsigned __int128 magnitude = 0;
    const unsigned __int128 limit =
        static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max()) + 1;
    bool roundUp = false;
    for (int i = 0; i < static_cast<int>(digits.size()); ++i) {
        const int d = digits[static_cast<std::size_t>(i)] - '0';
        if (i < integerDigits) {
            magnitude = magnitude * 10 + static_cast<unsigned>(d);
            if (magnitude > limit) return std::nullopt;
        } else {
            if (i == integerDigits) roundUp = d >= 5;
            break;
        }
    }
    for (int i = static_cast<int>(digits.size()); i < integerDigits; ++i) {
        magnitude *= 10;
        if (magnitude > limit) return std::nullopt;
    }
    if (roundUp) ++magnitude;
    if (magnitude > limit) return std::nullopt;
    std::int64_t value = 0;
    if (negative) {
        value = magnitude == limit ? std::numeric_limits<std::int64_t>::min()
                                   : -static_cast<std::int64_t>(magnitude);
    } else {
        if (magnitude == limit) return std::nullopt;
        value = static_cast<std::int64_t>(magnitude);
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<double> ParseFloat(const std::string& text) {
    std::string s = Trim(text);
    for (char& c : s) {
        if (c == ',') c = '.';
    }
    if (s.empty()) return std::nullopt;
    const char* first = s.data();
    if (*first == '+') ++first;
    double v = 0;
    auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<bool> ParseBoolean(const std::string& text) {
    std::string s = Trim(text);
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (s == "true" || s == "t" || s == "yes" || s == "y" || s == "1") return true;
    if (s == "false" || s == "f" || s == "no" || s == "n" || s == "0") return false;
    return std::nullopt;
}

std::string FormatScaledInteger(std::int64_t value, int scale) {
    if (scale >= 0) {
        std::string s = std::to_string(value);
        if (value != 0) s.append(static_cast<std::size_t>(scale), '0');
        return s;
    }
    const bool negative = value < 0;
    // Through unsigned so that the most negative value has a magnitude too.
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    const auto frac = static_cast<std::size_t>(-scale);
    if (digits.size() <= frac) digits.insert(0, frac - digits.size() + 1, '0');
    digits.insert(digits.size() - frac, 1, '.');
    return negative ? "-" + digits : digits;
}

std::string FormatFbDate(int year, int month, int day) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return buf;
}

std::string FormatFbTime(int hour, int minute, int second, int fraction) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%04d", hour, minute, second, fraction);
    return buf;
}

std::string FormatFloat(double value) {
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, ptr) : std::string();
}

}  // namespace qm
