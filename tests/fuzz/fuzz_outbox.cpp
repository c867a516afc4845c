// Outbox files are read back from disk: any bytes must parse or be refused without a crash, a
// parsed run must write back to a file that parses to the same run, and any bytes stored as a
// body must come back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scheduler/outbox.h"

namespace {

bool same(const qm::OutboxRun& a, const qm::OutboxRun& b) {
    return a.senderName == b.senderName && a.senderAddress == b.senderAddress &&
           a.recipients == b.recipients && a.subject == b.subject && a.body == b.body &&
           a.attachments == b.attachments && a.html == b.html && a.embeddedFlags == b.embeddedFlags;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    qm::OutboxRun run;
    if (qm::parseOutbox(text, run)) {
        qm::OutboxRun again;
        // Single-line fields may lose line ends and empty attachment entries on the way out,
        // so compare a second trip with the first.
        if (!qm::parseOutbox(qm::buildOutbox(run), again)) std::abort();
        qm::OutboxRun third;
        if (!qm::parseOutbox(qm::buildOutbox(again), third) || !same(again, third)) std::abort();
        if (again.body != run.body) std::abort();
    }
    qm::OutboxRun withBody;
    withBody.body = std::string(text);
    qm::OutboxRun back;
    if (!qm::parseOutbox(qm::buildOutbox(withBody), back) || back.body != withBody.body)
        std::abort();
    return 0;
}
