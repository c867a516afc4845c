// Sender-domain records come from DNS: any TXT answer packet, and any record text, must render and
// be judged (SPF, DMARC, DKIM key) without a crash, a hang or unbounded growth.
#include <cstdint>
#include <string_view>

#include "delivery/dns_resolver.h"
#include "delivery/domain_check.h"
#include "message/dkim_signer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    qm::DnsAnswer answer;
    if (data[0] & 1) {
        answer.records = qm::renderTextAnswer(rest);
    } else {
        answer.records.emplace_back(rest);
        qm::parseDkimRecord(rest);
    }
    answer.status = answer.records.empty() ? qm::DnsStatus::None : qm::DnsStatus::Found;
    qm::spfVerdict("d.test", answer);
    qm::dmarcVerdict("d.test", answer);
    qm::dkimVerdict("s._domainkey.d.test", answer, "QUJD");
    return 0;
}
