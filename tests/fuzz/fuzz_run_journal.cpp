// Run journals are read back from disk after a crash: any bytes must be read or refused without a
// crash, what is read must be what the whole records before the first bad one say, and a request
// record of any bytes must decode or be refused.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "delivery/campaign_run.h"
#include "delivery/run_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const qm::JournalContents read = qm::parseJournal(bytes);
    if (read.validBytes > bytes.size()) std::abort();
    if (read.valid) {
        // The tail after the last whole record changes nothing.
        const qm::JournalContents whole = qm::parseJournal(bytes.substr(0, read.validBytes));
        if (whole.ended.size() != read.ended.size() ||
            whole.inDoubt.size() != read.inDoubt.size() || whole.request != read.request)
            std::abort();
        qm::RunRequest r;
        std::vector<std::pair<std::string, std::string>> texts;
        (void)qm::decodeRunRequest(read.request, r, texts);
    }
    qm::RunRequest r;
    std::vector<std::pair<std::string, std::string>> texts;
    (void)qm::decodeRunRequest(bytes, r, texts);
    return 0;
}
