// Time formats of the system.
//
// A LocalMoment is an instant plus the local offset from UTC in force at it (daylight saving
// included), so a caller can fix both for exact output.
// Entry points: systemLocalMoment() reads the system clock and zone. formatMailDate() writes the
// date of a Date header line: "Tue, 05 Mar 2024 14:03:09 +0530" (English names, never the
// locale's). parseLocalTime() reads a typed start moment, "YYYY-MM-DD HH:MM[:SS]" in local time.
// Failure: parseLocalTime() returns false for anything else (other characters, text after it, a
// day the month does not have); the rest have none.
// Limits: none.
// Threads: pure functions (systemLocalMoment() uses the reentrant localtime_r).
// Standard: RFC 5322, section 3.3.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace qm {

struct LocalMoment {
    std::int64_t utcSeconds = 0;  // since 1970-01-01 00:00:00 UTC
    int offsetSeconds = 0;        // local time minus UTC
};

LocalMoment systemLocalMoment();
std::string formatMailDate(const LocalMoment& moment);
bool parseLocalTime(std::string_view text, std::time_t& out);

}  // namespace qm
