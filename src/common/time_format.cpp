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

bool parseLocalTime(std::string_view text, std::time_t& out) {
    // Digits exactly where the pattern has them, and nothing else: no blanks, signs or a tail.
    constexpr std::string_view kShort = "dddd-dd-dd dd:dd";
    constexpr std::string_view kLong = "dddd-dd-dd dd:dd:dd";
    if (text.size() != kShort.size() && text.size() != kLong.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char want = kLong[i];
        if (want == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != want) return false;
    }
    auto number = [&](std::size_t at, std::size_t digits) {
        int n = 0;
        for (std::size_t i = at; i < at + digits; ++i) n = n * 10 + (text[i] - '0');
        return n;
    };
    std::tm tm{};
    tm.tm_year = number(0, 4) - 1900;
    tm.tm_mon = number(5, 2) - 1;
    tm.tm_mday = number(8, 2);
    tm.tm_hour = number(11, 2);
    tm.tm_min = number(14, 2);
    tm.tm_sec = text.size() == kLong.size() ? number(17, 2) : 0;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 59)
        return false;
    tm.tm_isdst = -1;
    std::tm asked = tm;
    std::time_t t = std::mktime(&tm);
    // mktime() moves a day the month lacks (02-30) into the next month: refuse it. An hour that
    // a change of clocks skips is moved on, as the clock does.
    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != asked.tm_mday ||
        tm.tm_mon != asked.tm_mon || tm.tm_year != asked.tm_year)
        return false;
    out = t;
    return true;
}

}  // namespace qm
