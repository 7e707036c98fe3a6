#include "app/schedule.h"

#include <algorithm>

namespace qb::app {

namespace {

using namespace std::chrono;

int64_t interval(const Schedule& s) {
    return std::max<int64_t>(1, s.interval);
}

// The length of one interval, for the units of fixed length.
std::optional<seconds> fixedStep(const Schedule& s) {
    switch (s.period) {
        case kPeriodHours:
            return hours(interval(s));
        case kPeriodDays:
            return days(interval(s));
        case kPeriodWeeks:
            return weeks(interval(s));
        default:
            return std::nullopt;
    }
}

LocalTime addMonths(LocalTime t, int64_t months) {
    const local_days day = floor<days>(t);
    const year_month_day ymd(day);
    const year_month target =
        year_month(ymd.year(), ymd.month()) + std::chrono::months(static_cast<int32_t>(months));
    const std::chrono::day last =
        year_month_day_last(target.year(), month_day_last(target.month())).day();
    const year_month_day moved(target.year(), target.month(), std::min(ymd.day(), last));
    return local_days(moved) + (t - day);
}

// Whole months from a to b by calendar month numbers.
int64_t monthsBetween(LocalTime a, LocalTime b) {
    const year_month_day ya(floor<days>(a));
    const year_month_day yb(floor<days>(b));
    return (static_cast<int64_t>(static_cast<int>(yb.year())) - static_cast<int>(ya.year())) * 12 +
           (static_cast<int64_t>(static_cast<unsigned>(yb.month())) -
            static_cast<unsigned>(ya.month()));
}

}  // namespace

LocalTime ScheduleStart(double backupDate, double backupTime) {
    return LocalTime(DatePart(FromDateTime(backupDate))) + TimeOfDay(FromDateTime(backupTime));
}

std::optional<LocalTime> StepSchedule(const Schedule& s, int64_t steps) {
    if (s.period == kPeriodMonths) return addMonths(s.start, steps * interval(s));
    const std::optional<seconds> step = fixedStep(s);
    if (!step) return std::nullopt;
    return s.start + *step * steps;
}

std::optional<LocalTime> PreviousDueTime(const Schedule& s) {
    return StepSchedule(s, -1);
}

std::optional<LocalTime> NextDueTime(const Schedule& s, LocalTime last) {
    if (s.period != kPeriodMonths && !fixedStep(s)) return std::nullopt;
    if (last < s.start) return s.start;
    int64_t k = 0;
    if (s.period == kPeriodMonths) {
        // An estimate from the calendar months between, then the exact step.
        k = std::max<int64_t>(0, monthsBetween(s.start, last) / interval(s) - 1);
    } else {
        const std::optional<seconds> step = fixedStep(s);
        if (!step) return std::nullopt;
        k = (last - s.start) / *step;
    }
    for (;; ++k) {
        const std::optional<LocalTime> t = StepSchedule(s, k);
        if (!t) return std::nullopt;
        if (*t > last) return t;
    }
}

}  // namespace qb::app
