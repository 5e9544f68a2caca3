#include "archiver/schedule.h"

#include <algorithm>

#include "archiver/system.h"

namespace qm::archiver {

namespace {

// The local wall clock of an instant as seconds of a clock without zones.
std::int64_t Wall(std::time_t t) {
    const std::tm tm = LocalTime(t);
    return DaysFromCivil({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday}) * 86400 +
           tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

std::int64_t Offset(std::time_t t) { return Wall(t) - static_cast<std::int64_t>(t); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<TTimeOfDay> ParseBackupTime(std::string_view s) {
    const std::size_t colon = s.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || s.size() != colon + 3)
        return std::nullopt;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (i != colon && !IsDigit(s[i])) return std::nullopt;
    int hour = 0;
    for (std::size_t i = 0; i < colon; ++i) hour = hour * 10 + (s[i] - '0');
    const int minute = (s[colon + 1] - '0') * 10 + (s[colon + 2] - '0');
    if (hour > 23 || minute > 59) return std::nullopt;
    return TTimeOfDay{hour, minute};
}

// Howard Hinnant's algorithms for the civil calendar.
std::int64_t DaysFromCivil(const TDate& d) {
    const std::int64_t y = d.Year - (d.Month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (d.Month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + d.Day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

TDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day};
}

int WeekDay(const TDate& d) {
    const std::int64_t z = DaysFromCivil(d);
    return static_cast<int>(z >= -4 ? (z + 4) % 7 : (z + 5) % 7 + 6);
}

TDate LocalDate(std::time_t t) {
    const std::tm tm = LocalTime(t);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::time_t SlotInstant(const TDate& date, TTimeOfDay time) {
    const std::int64_t wall = DaysFromCivil(date) * 86400 + time.Hour * 3600 + time.Minute * 60;
    // Every zone's offset lies within 16 hours of UTC, so the instant lies
    // within 16 hours of the wall-clock reading taken as UTC.
    constexpr std::int64_t kReach = 16 * 3600;
    const std::int64_t lo = wall - kReach, hi = wall + kReach;
    const std::int64_t guess = wall - Offset(static_cast<std::time_t>(wall));
    const std::int64_t offset = Offset(static_cast<std::time_t>(guess));
    if (Offset(static_cast<std::time_t>(lo)) == offset &&
        Offset(static_cast<std::time_t>(hi)) == offset && guess + offset == wall)
        return static_cast<std::time_t>(guess);

    // Near a change of the offset: walk the pieces of constant offset in
    // time order and take, in the first piece that reaches the reading, the
    // first instant that does.
    std::int64_t pieceStart = lo;
    std::int64_t pieceOffset = Offset(static_cast<std::time_t>(lo));
    for (std::int64_t t = lo + 3600;; t += 3600) {
        const std::int64_t end = std::min(t, hi);
        std::int64_t pieceEnd = end;
        const std::int64_t o = Offset(static_cast<std::time_t>(end));
        if (o != pieceOffset) {
            // The first instant of the new offset, to the second.
            std::int64_t a = end - 3600, b = end;
            while (b - a > 1) {
                const std::int64_t mid = a + (b - a) / 2;
                if (Offset(static_cast<std::time_t>(mid)) == pieceOffset)
                    a = mid;
                else
                    b = mid;
            }
            pieceEnd = b;
        }
        const std::int64_t candidate = std::max(pieceStart, wall - pieceOffset);
        if (candidate < pieceEnd || end == hi) return static_cast<std::time_t>(candidate);
        if (o != pieceOffset) {
            pieceStart = pieceEnd;
            pieceOffset = o;
        }
    }
}

bool TPlan::Runs() const {
    return Active && !Times.empty() && std::find(Days.begin(), Days.end(), true) != Days.end();
}

bool TPlan::SameSchedule(const TPlan& other) const {
    return Active == other.Active && Days == other.Days && Times == other.Times;
}

TPlan PlanOf(const TFirebirdBase& base) {
    TPlan p;
    p.Key = std::to_string(base.Number) + "|" + TFirebirdBaseList::GetArchiveBaseName(base);
    p.Number = base.Number;
    p.Active = base.Active;
    p.Days = {base.Sun, base.Mon, base.Tue, base.Wed, base.Thu, base.Fri, base.Sat};
    for (const std::string& text : base.BackupTimes) {
        if (auto t = ParseBackupTime(text))
            p.Times.push_back(*t);
        else
            p.BadTimes.push_back(text);
    }
    std::sort(p.Times.begin(), p.Times.end());
    p.Times.erase(std::unique(p.Times.begin(), p.Times.end()), p.Times.end());
    return p;
}

std::vector<TPlan> PlansOf(const TFirebirdBaseList& list) {
    std::vector<TPlan> plans;
    for (std::size_t i = 0; i < list.Count(); ++i) plans.push_back(PlanOf(*list[i]));
    return plans;
}

std::vector<std::time_t> SlotsBetween(const TPlan& plan, std::time_t after, std::time_t upTo) {
    std::vector<std::time_t> out;
    if (upTo <= after || plan.Times.empty()) return out;
    constexpr std::time_t kLongest = 400 * 86400;
    if (upTo - after > kLongest) after = upTo - kLongest;
    // A slot's instant can fall on the day before or after its date.
    const std::int64_t first = DaysFromCivil(LocalDate(after)) - 1;
    const std::int64_t last = DaysFromCivil(LocalDate(upTo)) + 1;
    for (std::int64_t day = first; day <= last; ++day) {
        const TDate date = CivilFromDays(day);
        if (!plan.Days[static_cast<std::size_t>(WeekDay(date))]) continue;
        for (TTimeOfDay t : plan.Times) {
            const std::time_t at = SlotInstant(date, t);
            if (at > after && at <= upTo) out.push_back(at);
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::optional<std::time_t> NextSlot(const TPlan& plan, std::time_t after) {
    const auto slots = SlotsBetween(plan, after, after + 9 * 86400);
    if (slots.empty()) return std::nullopt;
    return slots.front();
}

std::vector<TDueRun> DueRuns(const std::vector<TPlan>& plans, const TLastRuns& last,
                             std::time_t now, std::time_t window) {
    std::vector<TDueRun> due;
    for (std::size_t i = 0; i < plans.size(); ++i) {
        if (!plans[i].Runs()) continue;
        const auto it = last.find(plans[i].Key);
        if (it == last.end()) continue;
        const std::time_t from = std::max(it->second, now - window);
        const auto slots = SlotsBetween(plans[i], from, now);
        if (!slots.empty()) due.push_back({i, slots.back()});
    }
    std::stable_sort(due.begin(), due.end(),
                     [](const TDueRun& a, const TDueRun& b) { return a.Slot < b.Slot; });
    return due;
}

TLastRuns CarryOver(const std::vector<TPlan>& before, const std::vector<TPlan>& after,
                    const TLastRuns& last, std::time_t now) {
    TLastRuns out;
    for (const TPlan& p : after) {
        const auto old = std::find_if(before.begin(), before.end(),
                                      [&](const TPlan& b) { return b.Key == p.Key; });
        const auto it = last.find(p.Key);
        if (old != before.end() && old->SameSchedule(p) && it != last.end())
            out[p.Key] = it->second;
        else
            out[p.Key] = std::max(now, it != last.end() ? it->second : now);
    }
    return out;
}

TLastRuns StartingPoints(const std::vector<TPlan>& plans, const TLastRuns& kept,
                         std::optional<std::time_t> seen, std::time_t now) {
    TLastRuns out;
    for (const TPlan& p : plans) {
        const auto it = kept.find(p.Key);
        out[p.Key] = it != kept.end() ? it->second : seen.value_or(now);
    }
    return out;
}

}  // namespace qm::archiver
