// What receivers will find when they check a sender's domain: its SPF record, its DMARC policy,
// and (given a selector) its published DKIM key, each as a plain verdict.
//
// Entry points: checkDomain() asks DNS and gives one line per check; spfVerdict(),
// dmarcVerdict() and dkimVerdict() judge already fetched TXT records (what the tests feed).
// dkimKeyMatches() compares a published p= with a private key's own.
//
// Verdicts: Pass (as receivers want it), Warn (works, but weakly: "~all" is fine, "?all" or a
// missing "all" is not; DMARC p=none only monitors), Fail (missing, ambiguous, or letting anyone
// send). A lookup the DNS server could not answer is a Fail with the resolver's text: the check
// could not be made.
// Failure: none of its own; every outcome is a line.
// Limits: one TXT query per check; records as long as DNS carries them.
// Threads: the caller's resolver; the window runs it off its own thread.
// Standard: RFC 7208 (SPF), RFC 7489 (DMARC), RFC 6376 section 3.6 (DKIM key records).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "delivery/dns_resolver.h"

namespace qm {

enum class CheckVerdict { Pass, Warn, Fail };

struct DomainCheckLine {
    std::string_view check;  // "SPF", "DMARC", "DKIM"
    CheckVerdict verdict = CheckVerdict::Fail;
    std::string text;
};

// "pass", "warn", "FAIL".
std::string_view verdictWord(CheckVerdict verdict);
// "SPF: pass: text".
std::string formatCheckLine(const DomainCheckLine& line);
bool anyFailed(const std::vector<DomainCheckLine>& lines);

DomainCheckLine spfVerdict(std::string_view domain, const DnsAnswer& txt);
DomainCheckLine dmarcVerdict(std::string_view domain, const DnsAnswer& txt);
// `expectedPublic` is a private key's p= (DkimSigner::publicKeyBase64()); empty: not compared.
DomainCheckLine dkimVerdict(std::string_view name, const DnsAnswer& txt,
                            std::string_view expectedPublic);

// "SELECTOR._domainkey.DOMAIN".
std::string dkimRecordName(std::string_view domain, std::string_view selector);

// SPF and DMARC of `domain`, and DKIM when `selector` is not empty.
std::vector<DomainCheckLine> checkDomain(DnsResolver& resolver, std::string_view domain,
                                         std::string_view selector,
                                         std::string_view expectedPublic = {});

}  // namespace qm
