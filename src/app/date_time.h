// Date-times as the settings store them: a day count since 30 December 1899 with
// the time of day as its fraction, on the local wall clock.
#pragma once

#include <chrono>
#include <string>

namespace qb::app {

// A local wall-clock time to the second, without a time zone.
using LocalTime = std::chrono::local_seconds;

// The stored form of a wall-clock time, and back (rounded to the second). Days
// before 1899-12-30 are negative with the time of day as a positive fraction
// (-1.25 is 29 December 1899, 06:00), as the stored values encode them. A value
// that is no date of the years 100 to 9999 reads as 1 January 1970.
double ToDateTime(LocalTime t);
LocalTime FromDateTime(double value);

// The local time now, to the second.
LocalTime LocalNow();
// The local wall-clock time of a moment.
LocalTime ToLocalTime(std::chrono::sys_seconds t);

// The date part (midnight) and the time of day of a wall-clock time.
std::chrono::local_days DatePart(LocalTime t);
std::chrono::seconds TimeOfDay(LocalTime t);

// "2026-03-10 08:30:00".
std::string FormatLocalTime(LocalTime t);

}  // namespace qb::app
