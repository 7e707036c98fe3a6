// When scheduled backups are due: the start day and time, stepped by the
// interval in hours, days, weeks or calendar months. Pure functions of their
// arguments, on local wall-clock times.
#pragma once

#include <cstdint>
#include <optional>

#include "app/date_time.h"

namespace qb::app {

// "BackupPeriod": the unit of "BackupInterval".
enum : int32_t { kPeriodHours = 0, kPeriodDays = 1, kPeriodWeeks = 2, kPeriodMonths = 3 };

struct Schedule {
    LocalTime start;  // the date of "BackupDate" at the time of day of "BackupTime"
    int32_t period = kPeriodMonths;
    int32_t interval = 1;  // units between two backups; below 1 counts as 1
};

// The start of a schedule from the two stored date-times.
LocalTime ScheduleStart(double backupDate, double backupTime);

// The start moved by `steps` intervals (back for negative steps). Months keep
// the start's day, or take the last day of a shorter month, and its time of day.
// No value for an unknown period.
std::optional<LocalTime> StepSchedule(const Schedule& s, int64_t steps);

// "LastBackupDate" as the schedule settings write it: one interval before the start.
std::optional<LocalTime> PreviousDueTime(const Schedule& s);

// The first due time after `last`: the start, or the start moved forward by a whole
// number of intervals, whichever is the earliest later than `last`. No value for
// an unknown period.
std::optional<LocalTime> NextDueTime(const Schedule& s, LocalTime last);

}  // namespace qb::app
