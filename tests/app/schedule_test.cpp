#include "app/schedule.h"

#include <gtest/gtest.h>

using namespace qb::app;
using namespace std::chrono;

namespace {

LocalTime at(int y, unsigned m, unsigned d, int h, int min = 0) {
    return local_days(year(y) / month(m) / day(d)) + hours(h) + minutes(min);
}

Schedule every(int32_t interval, int32_t period, LocalTime start) {
    return Schedule{start, period, interval};
}

}  // namespace

TEST(Schedule, OneIntervalBeforeTheStart) {
    // Every 2 months from 10 March 08:30: 10 January 08:30.
    EXPECT_EQ(PreviousDueTime(every(2, kPeriodMonths, at(2026, 3, 10, 8, 30))),
              at(2026, 1, 10, 8, 30));
    // Every 3 days from 2 March 06:00, in a year without and with 29 February.
    EXPECT_EQ(PreviousDueTime(every(3, kPeriodDays, at(2026, 3, 2, 6))), at(2026, 2, 27, 6));
    EXPECT_EQ(PreviousDueTime(every(3, kPeriodDays, at(2024, 3, 2, 6))), at(2024, 2, 28, 6));
    // Every 2 hours from 6 December 01:00: across midnight.
    EXPECT_EQ(PreviousDueTime(every(2, kPeriodHours, at(2026, 12, 6, 1))), at(2026, 12, 5, 23));
    EXPECT_EQ(PreviousDueTime(every(1, kPeriodWeeks, at(2026, 1, 3, 7))), at(2025, 12, 27, 7));
    // A month back from 31 March is the last day of February.
    EXPECT_EQ(PreviousDueTime(every(1, kPeriodMonths, at(2024, 3, 31, 9))), at(2024, 2, 29, 9));
    EXPECT_FALSE(PreviousDueTime(every(1, 7, at(2026, 1, 1, 0))).has_value());
}

TEST(Schedule, NextDueTimeStepsFromTheStart) {
    const Schedule months = every(2, kPeriodMonths, at(2026, 3, 10, 8, 30));
    // As the settings leave it, the first backup is the start itself.
    EXPECT_EQ(NextDueTime(months, *PreviousDueTime(months)), at(2026, 3, 10, 8, 30));
    EXPECT_EQ(NextDueTime(months, at(2026, 3, 10, 8, 30)), at(2026, 5, 10, 8, 30));
    EXPECT_EQ(NextDueTime(months, at(2026, 3, 10, 8, 31)), at(2026, 5, 10, 8, 30));
    // Long after the start: the next step, not every one missed.
    EXPECT_EQ(NextDueTime(months, at(2029, 8, 1, 0)), at(2029, 9, 10, 8, 30));

    // Months from the 31st take each month's last day without drifting.
    const Schedule endOfMonth = every(1, kPeriodMonths, at(2026, 1, 31, 22));
    EXPECT_EQ(NextDueTime(endOfMonth, at(2026, 1, 31, 22)), at(2026, 2, 28, 22));
    EXPECT_EQ(NextDueTime(endOfMonth, at(2026, 2, 28, 22)), at(2026, 3, 31, 22));

    const Schedule days = every(3, kPeriodDays, at(2024, 2, 26, 6));
    EXPECT_EQ(NextDueTime(days, at(2024, 2, 26, 7)), at(2024, 2, 29, 6));
    EXPECT_EQ(NextDueTime(days, at(2024, 3, 2, 6)), at(2024, 3, 3, 6));

    const Schedule hoursFromLateEvening = every(2, kPeriodHours, at(2026, 12, 6, 23));
    EXPECT_EQ(NextDueTime(hoursFromLateEvening, at(2026, 12, 7, 0, 30)), at(2026, 12, 7, 1));
    EXPECT_EQ(NextDueTime(hoursFromLateEvening, at(2026, 12, 8, 0, 59)), at(2026, 12, 8, 1));

    // An interval below 1 counts as 1; an unknown unit schedules nothing.
    EXPECT_EQ(NextDueTime(every(0, kPeriodWeeks, at(2026, 1, 1, 0)), at(2026, 1, 1, 0)),
              at(2026, 1, 8, 0));
    EXPECT_FALSE(NextDueTime(every(1, -1, at(2026, 1, 1, 0)), at(2025, 1, 1, 0)).has_value());
}

TEST(Schedule, StartTakesTheDateOfOneValueAndTheTimeOfTheOther) {
    // 10 March 2026 is day 46091; a date value carrying a time, a time value a date.
    EXPECT_EQ(ScheduleStart(46091.75, 46000.0 + 8.5 / 24), at(2026, 3, 10, 8, 30));
}
