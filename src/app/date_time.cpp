#include "app/date_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace qb::app {

namespace {

using namespace std::chrono;

constexpr local_days kEpoch = local_days(year(1899) / December / 30);

}  // namespace

double ToDateTime(LocalTime t) {
    const local_days day = floor<days>(t);
    const double dayNumber = static_cast<double>((day - kEpoch).count());
    const double fraction = static_cast<double>((t - day).count()) / 86400.0;
    return dayNumber >= 0 ? dayNumber + fraction : dayNumber - fraction;
}

LocalTime FromDateTime(double value) {
    // Days of the years 100 to 9999, as stored date-times can hold them; anything
    // else is no date.
    if (!std::isfinite(value) || value < -657434.0 || value > 2958466.0) return LocalTime{};
    const double whole = std::trunc(value);
    const auto secs = std::llround(std::fabs(value - whole) * 86400.0);
    return kEpoch + days(static_cast<long long>(whole)) + seconds(secs);
}

LocalTime ToLocalTime(std::chrono::sys_seconds t) {
    const std::time_t tt = static_cast<std::time_t>(t.time_since_epoch().count());
    std::tm tm{};
    localtime_r(&tt, &tm);
    const local_days day =
        local_days(year(tm.tm_year + 1900) / month(static_cast<unsigned>(tm.tm_mon + 1)) /
                   static_cast<unsigned>(tm.tm_mday));
    return day + hours(tm.tm_hour) + minutes(tm.tm_min) + seconds(tm.tm_sec);
}

LocalTime LocalNow() {
    return ToLocalTime(floor<seconds>(system_clock::now()));
}

std::chrono::local_days DatePart(LocalTime t) {
    return floor<days>(t);
}

std::chrono::seconds TimeOfDay(LocalTime t) {
    return t - floor<days>(t);
}

std::string FormatLocalTime(LocalTime t) {
    const year_month_day d(floor<days>(t));
    const hh_mm_ss<seconds> hms(t - floor<days>(t));
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(d.year()),
                  static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    return buf;
}

}  // namespace qb::app
