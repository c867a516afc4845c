#include "common/time_format.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace qm {

LocalMoment systemLocalMoment() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    LocalMoment m;
    m.utcSeconds = static_cast<std::int64_t>(now);
    if (::localtime_r(&now, &local)) m.offsetSeconds = static_cast<int>(local.tm_gmtoff);
    return m;
}

std::string formatMailDate(const LocalMoment& moment) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::int64_t local = moment.utcSeconds + moment.offsetSeconds;
    std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    std::int64_t secs = local - days * 86400;
    // Civil date from a day count (H. Hinnant's algorithm).
    std::int64_t z = days + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2);
    int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    int off = std::abs(moment.offsetSeconds) / 60;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04lld %02d:%02d:%02d %c%02d%02d", kDays[weekday],
                  static_cast<int>(day), kMonths[month - 1], static_cast<long long>(year),
                  static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60), moment.offsetSeconds < 0 ? '-' : '+', off / 60,
                  off % 60);
    return buf;
}

}  // namespace qm
