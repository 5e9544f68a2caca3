#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/firebird_base.h"

// When the service archives: pure functions of the register, the last runs
// and an instant. Times of day are local wall-clock times (the process's time
// zone, as localtime gives it); instants are seconds since the epoch.
namespace qm::archiver {

struct TTimeOfDay {
    int Hour = 0;
    int Minute = 0;
    auto operator<=>(const TTimeOfDay&) const = default;
};

// "HH:mm" or "H:mm", hours 0 to 23, minutes 00 to 59; nothing for any other
// text.
std::optional<TTimeOfDay> ParseBackupTime(std::string_view text);

struct TDate {
    int Year = 1970;
    int Month = 1;
    int Day = 1;
    auto operator<=>(const TDate&) const = default;
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(const TDate& d);
TDate CivilFromDays(std::int64_t days);
// 0 for Sunday to 6 for Saturday.
int WeekDay(const TDate& d);
// The local date of an instant.
TDate LocalDate(std::time_t t);

// The instant a slot of a day runs at: the first instant whose local wall
// clock reads the date and time or later. A time in the gap of a change to
// summer time thus runs at the first minute after the gap; a time that the
// change back to winter time shows twice runs at its first showing only.
std::time_t SlotInstant(const TDate& date, TTimeOfDay time);

// The schedule of one registered database as the service runs it.
struct TPlan {
    // Identifies the record's runs across re-reads of the register: its
    // number and its archive base name.
    std::string Key;
    std::int32_t Number = 0;
    bool Active = false;
    std::array<bool, 7> Days{};        // Sunday first, as WeekDay counts
    std::vector<TTimeOfDay> Times;     // ascending, each once
    std::vector<std::string> BadTimes; // the texts that are not times
    // Active, with at least one day and one time.
    bool Runs() const;
    // The same days and times (and activity): the record runs as before.
    bool SameSchedule(const TPlan& other) const;
};

TPlan PlanOf(const TFirebirdBase& base);
std::vector<TPlan> PlansOf(const TFirebirdBaseList& list);

// The plan's slots with instants in (after, upTo], ascending, each instant
// once. Ranges longer than 400 days are cut to their last 400 days.
std::vector<std::time_t> SlotsBetween(const TPlan& plan, std::time_t after, std::time_t upTo);
// The first slot after the instant, looking a little over a week ahead.
std::optional<std::time_t> NextSlot(const TPlan& plan, std::time_t after);

// The instant up to which each plan's slots are done, by plan key.
using TLastRuns = std::map<std::string, std::time_t>;

struct TDueRun {
    std::size_t Plan = 0;  // index into the plans
    std::time_t Slot = 0;
    bool operator==(const TDueRun&) const = default;
};

// The slots not more than 24 hours old.
inline constexpr std::time_t kCatchUpWindow = 24 * 60 * 60;

// The runs due at now: for each plan that runs and has an entry in last, its
// latest slot after that entry and within the window before now, at most one
// a plan; in the order of their slots (plans of the same slot in register
// order).
std::vector<TDueRun> DueRuns(const std::vector<TPlan>& plans, const TLastRuns& last,
                             std::time_t now, std::time_t window = kCatchUpWindow);

// The last runs of a new register: a plan whose schedule is unchanged keeps
// its entry; a new plan, or one whose days, times or activity changed, starts
// at now, so that slots already past are not run for it; plans gone are
// dropped.
TLastRuns CarryOver(const std::vector<TPlan>& before, const std::vector<TPlan>& after,
                    const TLastRuns& last, std::time_t now);

// The last runs at the service's start: the entries the service kept, and
// for a plan without one the instant the service was last known to run
// (seen), or now when it never ran.
TLastRuns StartingPoints(const std::vector<TPlan>& plans, const TLastRuns& kept,
                         std::optional<std::time_t> seen, std::time_t now);

}  // namespace qm::archiver
