// The scheduler as a pure function of the register, the last runs and an
// instant, in a zone with summer time (Europe/Berlin: winter UTC+1, summer
// UTC+2; in 2024 the clocks go 02:00 -> 03:00 on 31 March and 03:00 -> 02:00
// on 27 October).

#include "archiver/schedule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace qm::archiver {
namespace {

class BerlinTime : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
    }
    void TearDown() override {
        if (saved_)
            ::setenv("TZ", saved_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    std::optional<std::string> saved_;
};

// An instant given in UTC, worked out without the zone.
std::time_t Utc(int y, int mo, int d, int h, int mi, int s = 0) {
    return static_cast<std::time_t>(DaysFromCivil({y, mo, d}) * 86400 + h * 3600 + mi * 60 + s);
}

// A Berlin wall-clock time of a day without a change of the clocks.
std::time_t Berlin(int y, int mo, int d, int h, int mi, int s = 0) {
    const bool summer = (mo > 3 && mo < 10) || (mo == 3 && d > 31) || (mo == 10 && d < 27);
    return Utc(y, mo, d, h, mi, s) - (summer ? 7200 : 3600);
}

TFirebirdBase Record(const std::string& days, std::vector<std::string> times, int number = 0,
                     bool active = true) {
    TFirebirdBase b;
    b.Number = number;
    b.Active = active;
    b.DBFile = "/data/db" + std::to_string(number) + ".fdb";
    b.ArcDir = "/arc";
    b.BackupTimes = std::move(times);
    const bool all = days == "all";
    b.Sun = all || days.find("Sun") != std::string::npos;
    b.Mon = all || days.find("Mon") != std::string::npos;
    b.Tue = all || days.find("Tue") != std::string::npos;
    b.Wed = all || days.find("Wed") != std::string::npos;
    b.Thu = all || days.find("Thu") != std::string::npos;
    b.Fri = all || days.find("Fri") != std::string::npos;
    b.Sat = all || days.find("Sat") != std::string::npos;
    return b;
}

TEST(BackupTimeText, OnlyHoursAndMinutesOfADayAreTimes) {
    struct Case {
        const char* text;
        int hour;  // -1: not a time
        int minute;
    } cases[] = {
        {"13:30", 13, 30}, {"7:05", 7, 5},  {"00:00", 0, 0},  {"23:59", 23, 59},
        {"24:00", -1, 0},  {"12:60", -1, 0}, {"1230", -1, 0},  {"12:3", -1, 0},
        {":30", -1, 0},    {"12:30:00", -1, 0}, {" 12:30", -1, 0}, {"ab:cd", -1, 0},
        {"", -1, 0},       {"-1:30", -1, 0}, {"123:00", -1, 0}, {"1２:30", -1, 0},
    };
    for (const Case& c : cases) {
        const auto t = ParseBackupTime(c.text);
        if (c.hour < 0) {
            EXPECT_FALSE(t.has_value()) << c.text;
        } else {
            ASSERT_TRUE(t.has_value()) << c.text;
            EXPECT_EQ(t->Hour, c.hour) << c.text;
            EXPECT_EQ(t->Minute, c.minute) << c.text;
        }
    }
}

TEST(CivilCalendar, DaysAndWeekDaysOfAwkwardDates) {
    EXPECT_EQ(DaysFromCivil({1970, 1, 1}), 0);
    EXPECT_EQ(WeekDay({1970, 1, 1}), 4);   // Thursday
    EXPECT_EQ(WeekDay({2024, 2, 29}), 4);  // a leap day, Thursday
    EXPECT_EQ(WeekDay({2024, 3, 31}), 0);  // Sunday
    EXPECT_EQ(WeekDay({1969, 12, 31}), 3);
    for (std::int64_t d : {-1000, -1, 0, 59, 19782, 19783, 60000}) {
        EXPECT_EQ(DaysFromCivil(CivilFromDays(d)), d);
    }
    EXPECT_EQ(CivilFromDays(DaysFromCivil({2024, 2, 28}) + 1), (TDate{2024, 2, 29}));
    EXPECT_EQ(CivilFromDays(DaysFromCivil({2023, 2, 28}) + 1), (TDate{2023, 3, 1}));
}

TEST_F(BerlinTime, SlotInstantsAcrossBothChangesOfTheClocks) {
    struct Case {
        const char* what;
        TDate date;
        TTimeOfDay time;
        std::time_t expected;
    } cases[] = {
        {"winter", {2024, 1, 15}, {13, 30}, Utc(2024, 1, 15, 12, 30)},
        {"summer", {2024, 7, 15}, {13, 30}, Utc(2024, 7, 15, 11, 30)},
        {"midnight", {2024, 3, 31}, {0, 0}, Utc(2024, 3, 30, 23, 0)},
        {"before the gap", {2024, 3, 31}, {1, 59}, Utc(2024, 3, 31, 0, 59)},
        {"gap start", {2024, 3, 31}, {2, 0}, Utc(2024, 3, 31, 1, 0)},
        {"in the gap", {2024, 3, 31}, {2, 30}, Utc(2024, 3, 31, 1, 0)},
        {"gap end", {2024, 3, 31}, {2, 59}, Utc(2024, 3, 31, 1, 0)},
        {"after the gap", {2024, 3, 31}, {3, 0}, Utc(2024, 3, 31, 1, 0)},
        {"after the gap 2", {2024, 3, 31}, {3, 1}, Utc(2024, 3, 31, 1, 1)},
        {"before the fold", {2024, 10, 27}, {1, 30}, Utc(2024, 10, 26, 23, 30)},
        {"fold start", {2024, 10, 27}, {2, 0}, Utc(2024, 10, 27, 0, 0)},
        {"in the fold", {2024, 10, 27}, {2, 30}, Utc(2024, 10, 27, 0, 30)},
        {"after the fold", {2024, 10, 27}, {3, 0}, Utc(2024, 10, 27, 2, 0)},
    };
    for (const Case& c : cases) EXPECT_EQ(SlotInstant(c.date, c.time), c.expected) << c.what;
}

struct DueCase {
    const char* what;
    const char* days;
    std::vector<std::string> times;
    std::time_t last;
    std::time_t now;
    std::optional<std::time_t> slot;  // the one run due, or none
};

TEST_F(BerlinTime, TheRunDueForOneRecord) {
    // 15 January 2024 is a Monday.
    const DueCase cases[] = {
        {"the time has come", "Mon", {"13:30"}, Berlin(2024, 1, 15, 13, 0),
         Berlin(2024, 1, 15, 13, 30), Berlin(2024, 1, 15, 13, 30)},
        {"not yet", "Mon", {"13:30"}, Berlin(2024, 1, 15, 13, 0),
         Berlin(2024, 1, 15, 13, 29, 59), std::nullopt},
        {"already done", "Mon", {"13:30"}, Berlin(2024, 1, 15, 13, 30),
         Berlin(2024, 1, 15, 13, 31), std::nullopt},
        {"not its day", "Tue,Wed", {"13:30"}, Berlin(2024, 1, 15, 13, 0),
         Berlin(2024, 1, 15, 14, 0), std::nullopt},
        {"several times: the latest passed", "Mon", {"20:00", "08:00", "13:30"},
         Berlin(2024, 1, 15, 8, 0), Berlin(2024, 1, 15, 14, 0), Berlin(2024, 1, 15, 13, 30)},
        {"duplicates give one run", "Mon", {"13:30", "13:30"}, Berlin(2024, 1, 15, 13, 0),
         Berlin(2024, 1, 15, 13, 31), Berlin(2024, 1, 15, 13, 30)},
        {"malformed times are skipped", "Mon", {"25:00", "13:30", "x"}, Berlin(2024, 1, 15, 13, 0),
         Berlin(2024, 1, 15, 13, 31), Berlin(2024, 1, 15, 13, 30)},
        {"midnight of the next day", "Tue", {"00:00"}, Berlin(2024, 1, 15, 23, 0),
         Berlin(2024, 1, 16, 0, 0), Berlin(2024, 1, 16, 0, 0)},
        {"end of the month", "all", {"00:00"}, Berlin(2024, 1, 31, 23, 0),
         Berlin(2024, 2, 1, 0, 1), Berlin(2024, 2, 1, 0, 0)},
        {"leap day", "Thu", {"12:00"}, Berlin(2024, 2, 28, 12, 0), Berlin(2024, 2, 29, 12, 0),
         Berlin(2024, 2, 29, 12, 0)},
        {"a time in the spring gap runs at its end", "all", {"02:30"},
         Berlin(2024, 3, 30, 3, 0), Utc(2024, 3, 31, 1, 0), Utc(2024, 3, 31, 1, 0)},
        {"not before the gap ends", "all", {"02:30"}, Berlin(2024, 3, 30, 3, 0),
         Utc(2024, 3, 31, 0, 59, 59), std::nullopt},
        {"a time shown twice runs at its first showing", "all", {"02:30"},
         Berlin(2024, 10, 26, 3, 0), Utc(2024, 10, 27, 0, 30), Utc(2024, 10, 27, 0, 30)},
        {"and not at its second", "all", {"02:30"}, Utc(2024, 10, 27, 0, 30),
         Utc(2024, 10, 27, 1, 30), std::nullopt},
        {"catch-up after hours: the latest slot once", "all", {"13:30", "20:00"},
         Berlin(2024, 1, 14, 20, 0), Berlin(2024, 1, 15, 22, 0), Berlin(2024, 1, 15, 20, 0)},
        {"catch-up after days: within the last day", "all", {"13:30"},
         Berlin(2024, 1, 12, 13, 30), Berlin(2024, 1, 15, 10, 0), Berlin(2024, 1, 14, 13, 30)},
        {"no catch-up beyond a day", "Mon", {"13:30"}, Berlin(2024, 1, 8, 13, 30),
         Berlin(2024, 1, 17, 10, 0), std::nullopt},
    };
    for (const DueCase& c : cases) {
        const std::vector<TPlan> plans = {PlanOf(Record(c.days, c.times))};
        const TLastRuns last = {{plans[0].Key, c.last}};
        const auto due = DueRuns(plans, last, c.now);
        if (!c.slot) {
            EXPECT_TRUE(due.empty()) << c.what;
        } else {
            ASSERT_EQ(due.size(), 1u) << c.what;
            EXPECT_EQ(due[0].Slot, *c.slot) << c.what;
        }
    }
}

TEST_F(BerlinTime, RecordsThatDoNotRunAndTheOrderOfThoseThatDo) {
    const std::time_t now = Berlin(2024, 1, 15, 14, 5);
    const std::vector<TPlan> plans = {
        PlanOf(Record("Mon", {"14:00"}, 0)),
        PlanOf(Record("Mon", {"13:00"}, 1)),
        PlanOf(Record("Mon", {"13:00"}, 2, false)),  // inactive
        PlanOf(Record("", {"13:00"}, 3)),            // no day
        PlanOf(Record("Mon", {}, 4)),                // no time
        PlanOf(Record("Mon", {"13:00"}, 5)),         // same slot as 1, later in the register
        PlanOf(Record("Mon", {"13:00"}, 6)),         // no entry in the last runs
    };
    TLastRuns last;
    for (std::size_t i = 0; i + 1 < plans.size(); ++i) last[plans[i].Key] = now - 7200;
    const auto due = DueRuns(plans, last, now);
    ASSERT_EQ(due.size(), 3u);
    EXPECT_EQ(due[0], (TDueRun{1, Berlin(2024, 1, 15, 13, 0)}));
    EXPECT_EQ(due[1], (TDueRun{5, Berlin(2024, 1, 15, 13, 0)}));
    EXPECT_EQ(due[2], (TDueRun{0, Berlin(2024, 1, 15, 14, 0)}));
}

TEST_F(BerlinTime, NextSlotLooksAWeekAheadAndAcrossTheGap) {
    const TPlan monday = PlanOf(Record("Mon", {"13:30"}));
    EXPECT_EQ(NextSlot(monday, Berlin(2024, 1, 16, 9, 0)), Berlin(2024, 1, 22, 13, 30));
    EXPECT_EQ(NextSlot(monday, Berlin(2024, 1, 15, 13, 30)), Berlin(2024, 1, 22, 13, 30));
    const TPlan night = PlanOf(Record("all", {"02:15", "02:45"}));
    // Both times of the gap fall on its end: one run.
    const auto slots = SlotsBetween(night, Utc(2024, 3, 30, 12, 0), Utc(2024, 3, 31, 12, 0));
    EXPECT_EQ(slots, std::vector<std::time_t>{Utc(2024, 3, 31, 1, 0)});
    EXPECT_FALSE(NextSlot(PlanOf(Record("", {"13:30"})), Berlin(2024, 1, 15, 0, 0)).has_value());
}

TEST_F(BerlinTime, ARegisterChangedWhileWaiting) {
    const std::time_t lastRun = Berlin(2024, 1, 15, 8, 0);
    const std::time_t now = Berlin(2024, 1, 15, 12, 0);
    const std::vector<TPlan> before = {PlanOf(Record("Mon", {"08:00", "11:00"}, 0)),
                                       PlanOf(Record("Mon", {"08:00"}, 1)),
                                       PlanOf(Record("Mon", {"08:00"}, 2))};
    const TLastRuns last = {{before[0].Key, lastRun}, {before[1].Key, lastRun},
                            {before[2].Key, lastRun}};
    // 0 unchanged (its 11:00 is still due), 1 gets a time already past and
    // one to come, 2 is removed, 3 is new with a time already past.
    const std::vector<TPlan> after = {PlanOf(Record("Mon", {"08:00", "11:00"}, 0)),
                                      PlanOf(Record("Mon", {"08:00", "10:00", "12:30"}, 1)),
                                      PlanOf(Record("Mon", {"09:00"}, 3))};
    const TLastRuns carried = CarryOver(before, after, last, now);
    EXPECT_EQ(carried.size(), 3u);
    EXPECT_EQ(carried.at(after[0].Key), lastRun);
    EXPECT_EQ(carried.at(after[1].Key), now);
    EXPECT_EQ(carried.at(after[2].Key), now);
    EXPECT_EQ(carried.count(before[2].Key), 0u);

    const auto dueNow = DueRuns(after, carried, now);
    ASSERT_EQ(dueNow.size(), 1u);
    EXPECT_EQ(dueNow[0], (TDueRun{0, Berlin(2024, 1, 15, 11, 0)}));
    const auto dueLater = DueRuns(after, carried, Berlin(2024, 1, 15, 12, 30));
    ASSERT_EQ(dueLater.size(), 2u);
    EXPECT_EQ(dueLater[1], (TDueRun{1, Berlin(2024, 1, 15, 12, 30)}));

    // Made inactive: no run; made active again later: nothing from the
    // inactive time is caught up.
    std::vector<TPlan> off = after;
    off[0].Active = false;
    TLastRuns whileOff = CarryOver(after, off, carried, now);
    for (const TDueRun& d : DueRuns(off, whileOff, now)) EXPECT_NE(d.Plan, 0u);
    const std::time_t back = Berlin(2024, 1, 15, 16, 0);
    const TLastRuns on = CarryOver(off, after, whileOff, back);
    EXPECT_EQ(on.at(after[0].Key), back);
}

TEST_F(BerlinTime, StartingPointsAfterAStop) {
    const std::vector<TPlan> plans = {PlanOf(Record("all", {"13:30"}, 0)),
                                      PlanOf(Record("all", {"13:30"}, 1))};
    const std::time_t seen = Berlin(2024, 1, 15, 10, 0);
    const std::time_t now = Berlin(2024, 1, 15, 18, 0);
    const TLastRuns kept = {{plans[0].Key, Berlin(2024, 1, 14, 13, 30)}, {"gone", 5}};
    TLastRuns start = StartingPoints(plans, kept, seen, now);
    EXPECT_EQ(start.size(), 2u);
    EXPECT_EQ(start.at(plans[0].Key), Berlin(2024, 1, 14, 13, 30));
    EXPECT_EQ(start.at(plans[1].Key), seen);
    // Both missed today's 13:30 while the service was down: one catch-up each.
    EXPECT_EQ(DueRuns(plans, start, now).size(), 2u);
    // A service that never ran catches nothing up.
    start = StartingPoints(plans, {}, std::nullopt, now);
    EXPECT_TRUE(DueRuns(plans, start, now).empty());
}

}  // namespace
}  // namespace qm::archiver
