// Time formats of the system.
//
// A LocalMoment is an instant plus the local offset from UTC in force at it (daylight saving
// included), so a caller can fix both for exact output.
// Entry points: systemLocalMoment() reads the system clock and zone. formatMailDate() writes the
// date of a Date header line: "Tue, 05 Mar 2024 14:03:09 +0530" (English names, never the
// locale's).
// Failure: none.
// Limits: none.
// Threads: pure functions (systemLocalMoment() uses the reentrant localtime_r).
// Standard: RFC 5322, section 3.3.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

struct LocalMoment {
    std::int64_t utcSeconds = 0;  // since 1970-01-01 00:00:00 UTC
    int offsetSeconds = 0;        // local time minus UTC
};

LocalMoment systemLocalMoment();
std::string formatMailDate(const LocalMoment& moment);

}  // namespace qm
