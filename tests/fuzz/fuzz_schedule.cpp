// The schedule file and the scheduler status file are read back from disk: any bytes must parse
// without a crash; a parsed schedule written and read again must give the same entries; and any
// one-line subject must survive the separator escape.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scheduler/schedule.h"
#include "scheduler/scheduler_status.h"

namespace {

bool sameEntries(const qm::ScheduleList& a, const qm::ScheduleList& b) {
    if (a.count() != b.count()) return false;
    for (std::size_t i = 0; i < a.count(); ++i) {
        const qm::ScheduleEntry &x = a.at(i), &y = b.at(i);
        if (x.subject != y.subject || x.savedAt != y.savedAt || x.dueAt != y.dueAt ||
            x.repetition != y.repetition || x.outboxPath != y.outboxPath || x.done != y.done)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    qm::parseStatusText(text);

    qm::ScheduleList first, second, third;
    first.parse(text);
    // Done entries are not written, and line ends inside fields become blanks on the way out:
    // compare the second trip with the first.
    second.parse(first.format());
    third.parse(second.format());
    if (!sameEntries(second, third)) std::abort();

    std::string subject(text.substr(0, 200));
    for (char& c : subject)
        if (c == '\r' || c == '\n') c = ' ';
    qm::ScheduleEntry e;
    e.subject = subject;
    e.outboxPath = subject;
    e.dueAt = 1800000000;
    qm::ScheduleList one;
    one.parse(qm::formatScheduleLine(e));
    if (one.count() != 1 || one.at(0).subject != subject || one.at(0).outboxPath != subject)
        std::abort();
    return 0;
}
