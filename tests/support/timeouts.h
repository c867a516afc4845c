// Time limits for protocol tests. A limit is what a test asserts about only when the server stays
// silent on purpose; everywhere else it is a guard against a hang, and it must outlast any delay a
// loaded machine can put between a fake server's reply and the client reading it.
#pragma once

#include <chrono>
#include <cstddef>

namespace qm::test {

// For every stage where the server answers: far beyond a busy machine's scheduling delays, and
// only ever waited out when a test is already failing.
inline constexpr std::chrono::seconds kPatient{60};

// Patient limits everywhere except `silentStage`, where the fake server holds its reply and the
// test wants the time-out quickly. Works for any table of per-stage limits (SMTP, POP3).
template <class Timeouts, class Stage>
Timeouts patientExcept(Stage silentStage, std::chrono::milliseconds limit) {
    Timeouts t = Timeouts::uniform(kPatient);
    t.limit[static_cast<std::size_t>(silentStage)] = limit;
    return t;
}

}  // namespace qm::test
