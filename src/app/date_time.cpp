#include "app/date_time.h"

#include <cmath>
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
    if (!std::isfinite(value)) return LocalTime{};
    const double whole = std::trunc(value);
    const auto secs = std::llround(std::fabs(value - whole) * 86400.0);
    return kEpoch + days(static_cast<long long>(whole)) + seconds(secs);
}

std::chrono::sys_seconds ToSystemTime(LocalTime t) {
    const local_days day = floor<days>(t);
    const year_month_day ymd(day);
    const hh_mm_ss<seconds> hms(t - day);
    std::tm tm{};
    tm.tm_year = static_cast<int>(ymd.year()) - 1900;
    tm.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
    tm.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
    tm.tm_hour = static_cast<int>(hms.hours().count());
    tm.tm_min = static_cast<int>(hms.minutes().count());
    tm.tm_sec = static_cast<int>(hms.seconds().count());
    tm.tm_isdst = -1;
    return sys_seconds(seconds(std::mktime(&tm)));
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

}  // namespace qb::app
