#include "delivery/domain_check.h"

#include "common/text.h"
#include "message/dkim_signer.h"

namespace qm {

namespace {

// True when `record` starts with `tag` (any letter case) followed by a blank or its end.
bool startsWithVersion(std::string_view record, std::string_view tag) {
    record = trimWhite(record);
    if (record.size() < tag.size() || lowerAscii(record.substr(0, tag.size())) != tag) return false;
    return record.size() == tag.size() || record[tag.size()] == ' ' || record[tag.size()] == ';' ||
           record[tag.size()] == '\t';
}

std::vector<std::string> recordsWith(const DnsAnswer& txt, std::string_view tag) {
    std::vector<std::string> out;
    for (const auto& r : txt.records)
        if (startsWithVersion(r, tag)) out.push_back(r);
    return out;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t b = text.find_first_not_of(" \t", pos);
        if (b == std::string_view::npos) break;
        std::size_t e = text.find_first_of(" \t", b);
        if (e == std::string_view::npos) e = text.size();
        out.push_back(text.substr(b, e - b));
        pos = e;
    }
    return out;
}

DomainCheckLine lookupFailed(std::string_view check, std::string_view name, const DnsAnswer& a) {
    return {check, CheckVerdict::Fail,
            "the TXT lookup of " + std::string(name) + " failed: " + std::string(a.error)};
}

}  // namespace

std::string_view verdictWord(CheckVerdict verdict) {
    switch (verdict) {
        case CheckVerdict::Pass:
            return "pass";
        case CheckVerdict::Warn:
            return "warn";
        case CheckVerdict::Fail:
            break;
    }
    return "FAIL";
}

std::string formatCheckLine(const DomainCheckLine& line) {
    return std::string(line.check) + ": " + std::string(verdictWord(line.verdict)) + ": " +
           line.text;
}

bool anyFailed(const std::vector<DomainCheckLine>& lines) {
    for (const auto& l : lines)
        if (l.verdict == CheckVerdict::Fail) return true;
    return false;
}

DomainCheckLine spfVerdict(std::string_view domain, const DnsAnswer& txt) {
    constexpr std::string_view kSpf = "SPF";
    if (txt.status == DnsStatus::TemporaryFailure) return lookupFailed(kSpf, domain, txt);
    std::vector<std::string> spf = recordsWith(txt, "v=spf1");
    if (spf.empty())
        return {kSpf, CheckVerdict::Fail,
                "no v=spf1 record at " + std::string(domain) +
                    ": receivers cannot tell which servers may send for it"};
    if (spf.size() > 1)
        return {kSpf, CheckVerdict::Fail,
                std::to_string(spf.size()) + " v=spf1 records at " + std::string(domain) +
                    ": receivers treat more than one as an error (permerror)"};
    const std::string& record = spf.front();
    std::string_view all;
    bool redirect = false;
    for (std::string_view w : words(record)) {
        std::string lower = lowerAscii(w);
        if (lower == "all" || lower == "+all" || lower == "-all" || lower == "~all" ||
            lower == "?all")
            all = w;
        if (lower.starts_with("redirect=")) redirect = true;
    }
    std::string quoted = "\"" + record + "\"";
    std::string a = lowerAscii(all);
    if (a == "-all")
        return {kSpf, CheckVerdict::Pass, quoted + " ends in -all: others are refused"};
    if (a == "~all") return {kSpf, CheckVerdict::Pass, quoted + " ends in ~all: others soft-fail"};
    if (a == "?all")
        return {kSpf, CheckVerdict::Warn,
                quoted +
                    " ends in ?all: others are neither refused"
                    " nor accepted; use ~all or -all"};
    if (a == "all" || a == "+all")
        return {kSpf, CheckVerdict::Fail,
                quoted + " ends in " + std::string(all) + ": anyone may send for the domain"};
    if (redirect) return {kSpf, CheckVerdict::Pass, quoted + " hands over to another record"};
    return {kSpf, CheckVerdict::Warn,
            quoted + " has no \"all\": others get a neutral result; end it in ~all or -all"};
}

DomainCheckLine dmarcVerdict(std::string_view domain, const DnsAnswer& txt) {
    constexpr std::string_view kDmarc = "DMARC";
    std::string name = "_dmarc." + std::string(domain);
    if (txt.status == DnsStatus::TemporaryFailure) return lookupFailed(kDmarc, name, txt);
    std::vector<std::string> dmarc = recordsWith(txt, "v=dmarc1");
    if (dmarc.empty())
        return {
            kDmarc, CheckVerdict::Fail,
            "no v=DMARC1 record at " + name + ": large mailbox providers ask bulk senders for one"};
    if (dmarc.size() > 1)
        return {kDmarc, CheckVerdict::Fail,
                std::to_string(dmarc.size()) + " v=DMARC1 records at " + name +
                    ": receivers ignore them all"};
    std::string policy;
    std::vector<DkimTag> tags;
    parseTagList(dmarc.front(), tags);  // a broken tag list leaves the tags before it
    for (const auto& t : tags)
        if (t.name == "p") policy = lowerAscii(t.value);
    if (policy == "reject" || policy == "quarantine")
        return {kDmarc, CheckVerdict::Pass, "p=" + policy + " at " + name};
    if (policy == "none")
        return {kDmarc, CheckVerdict::Warn,
                "p=none at " + name + ": reports only, nothing is held back"};
    return {kDmarc, CheckVerdict::Fail,
            "the record at " + name + " has no valid p= policy (none, quarantine or reject)"};
}

DomainCheckLine dkimVerdict(std::string_view name, const DnsAnswer& txt,
                            std::string_view expectedPublic) {
    constexpr std::string_view kDkim = "DKIM";
    if (txt.status == DnsStatus::TemporaryFailure) return lookupFailed(kDkim, name, txt);
    if (txt.records.empty())
        return {kDkim, CheckVerdict::Fail,
                "no key record at " + std::string(name) + ": signatures cannot be verified"};
    if (txt.records.size() > 1)
        return {kDkim, CheckVerdict::Fail,
                std::to_string(txt.records.size()) + " TXT records at " + std::string(name) +
                    ": verifiers may pick any of them"};
    DkimRecord r = parseDkimRecord(txt.records.front());
    if (!r.valid) return {kDkim, CheckVerdict::Fail, r.error + " (" + std::string(name) + ")"};
    if (r.publicBase64.empty())
        return {kDkim, CheckVerdict::Fail,
                "the key at " + std::string(name) + " is revoked (empty p=)"};
    std::string what = "k=" + r.keyType + " key published at " + std::string(name);
    if (expectedPublic.empty()) return {kDkim, CheckVerdict::Pass, what};
    if (r.publicBase64 != expectedPublic)
        return {kDkim, CheckVerdict::Fail,
                "the key published at " + std::string(name) + " does not match the private key"};
    return {kDkim, CheckVerdict::Pass, what + ", matching the private key"};
}

std::string dkimRecordName(std::string_view domain, std::string_view selector) {
    return std::string(selector) + "._domainkey." + std::string(domain);
}

std::vector<DomainCheckLine> checkDomain(DnsResolver& resolver, std::string_view domain,
                                         std::string_view selector,
                                         std::string_view expectedPublic) {
    std::vector<DomainCheckLine> out;
    out.push_back(spfVerdict(domain, resolver.lookupTxt(domain)));
    out.push_back(dmarcVerdict(domain, resolver.lookupTxt("_dmarc." + std::string(domain))));
    if (!selector.empty()) {
        std::string name = dkimRecordName(domain, selector);
        out.push_back(dkimVerdict(name, resolver.lookupTxt(name), expectedPublic));
    }
    return out;
}

}  // namespace qm
