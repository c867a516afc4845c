// A group exported as an address book and imported again must come back as it was: a group line
// whose fields a vCard carries as they are (printed text, trimmed, no home address parts
// apart from Address 1) comes back as the same line, and any line, once through the trip, is a
// line that every further trip leaves alone, so exporting and importing again never changes or
// grows a group.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text.h"
#include "groups/group_export.h"
#include "groups/recipient.h"
#include "groups/vcard_import.h"

namespace {

// The line after one export and import; empty when the card was left out.
std::string trip(const qm::Recipient& r) {
    const auto parsed = qm::parseVCards(qm::buildVCards({r}));
    if (parsed.contacts.size() + parsed.withoutEmail != 1) std::abort();
    return parsed.contacts.empty() ? std::string() : qm::formatStoredLine(parsed.contacts[0]);
}

bool carriedAsIs(const qm::Recipient& r) {
    if (r.status != qm::RecipientStatus::Enabled || r.name.size() > 100) return false;
    // A name that is only the address is written as a nameless recipient is, and reads as none.
    if (qm::lowerAscii(r.name) == qm::lowerAscii(r.email)) return false;
    if (!r.city.empty() || !r.state.empty() || !r.zip.empty() || !r.country.empty()) return false;
    if (r.email.empty() || qm::lowerAscii(std::string_view(r.email).substr(0, 7)) == "mailto:")
        return false;
    for (const std::string* f : {&r.name, &r.email, &r.address1, &r.telephone, &r.title, &r.company,
                                 &r.mobile, &r.fax, &r.address2}) {
        if (qm::trimWhite(*f) != *f) return false;
        if (!std::all_of(f->begin(), f->end(), [](char c) { return c >= 0x20 && c < 0x7f; }))
            return false;
    }
    // A "%" of an address written by an older version is plain text; the import stores it in
    // today's escaped form ("%2B"), which reads the same.
    if (r.address1.find('%') != std::string::npos || r.address2.find('%') != std::string::npos)
        return false;
    // Numbers are stored without commas (the stand-in for one is read as a comma).
    for (const std::string* f : {&r.telephone, &r.mobile, &r.fax})
        if (f->find('\xb8') != std::string::npos || f->find(',') != std::string::npos) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (text.find_first_of("\r\n") != std::string_view::npos) return 0;  // one line
    const qm::Recipient r = qm::parseGroupLine(text);
    const std::string once = trip(r);
    std::string_view bare = qm::trimWhite(r.email);
    if (qm::lowerAscii(bare.substr(0, 7)) == "mailto:") bare = qm::trimWhite(bare.substr(7));
    if (bare.empty()) {
        if (!once.empty()) std::abort();  // no address: the card is left out
        return 0;
    }
    if (once.empty()) std::abort();
    if (carriedAsIs(r) && once != qm::formatStoredLine(r)) std::abort();
    const std::string twice = trip(qm::parseGroupLine(once));
    if (twice != once) std::abort();
    return 0;
}
