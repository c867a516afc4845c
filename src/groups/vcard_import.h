// Address-book import: the contacts of a vCard file into new groups.
//
// Entry points: parseVCards() reads every card of a text into recipients (pure);
// importContacts() reads a file and writes its contacts as groups named "Contacts%y%j%H%M%S"
// (new_group.h: a name no group of the folder has, in any letter case), 32,000 to a group.
//
// What a card gives: Email is the preferred EMAIL (TYPE=pref, or the lowest PREF=n), else the
// first; Name is FN (else the given and family names of N; an FN that is only the address is no
// name), cut to 100 characters; Telephone the home voice number (else the first that is neither
// mobile nor fax) with commas and a leading "tel:" removed (as are Mobile and Fax); Mobile
// the TYPE=cell number; Fax the fax number (work first); Address 1 the home address (else one
// without a type), Address 2 the work address, both as lines (street, "city, state zip",
// country) and escaped; City, State, Zip and Country from the home address; Title; Company the
// first part of ORG. Every field goes through formatStoredLine(), which keeps the group line
// well-formed (a comma becomes 0xB8, a line break a space), so no value can split a line.
// A card without an e-mail address is left out (a recipient needs one), and counted.
//
// Accepted input: vCard 2.1, 3.0 and 4.0; CR LF or LF; folded lines (a line starting with a space
// or tab continues the previous one); quoted-printable values with soft line breaks; UTF-8 values,
// or other 8-bit text read as Windows-1252; the escapes \n \, \; \\; property groups
// ("item1.EMAIL"); quoted parameter values. Lines are neither checked with isEmailAddress nor
// de-duplicated, as for a mail client's contacts.
//
// Failure: importContacts() returns ok=false with the text to show (unreadable file, no contact,
// a group that could not be written: groups written before it are listed and stay).
// Limits: files up to 256 MiB; a card nested in another (AGENT) is skipped.
// Threads: pure parser; importContacts() blocks (the window runs it on its own thread).
// Standard: RFC 2426 (vCard 3.0), RFC 6350 (vCard 4.0), the 2.1 quoted-printable convention.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "config/paths.h"
#include "groups/new_group.h"
#include "groups/recipient.h"
#include "groups/recipient_import.h"

namespace qm {

inline constexpr std::string_view kMsgContactsImported =
    "Emails successfully imported from the address book.";
inline constexpr std::string_view kMsgNoContacts =
    "The file holds no contact with an e-mail address.";

struct VCardParse {
    std::vector<Recipient> contacts;
    std::size_t withoutEmail = 0;
};
VCardParse parseVCards(std::string_view text);

// The lines an address's city, state, zip and country give at the end of Address 1 ("city, state
// zip", country), so that an export can leave out what the import adds again.
std::string vcardAddressTail(std::string_view city, std::string_view state, std::string_view zip,
                             std::string_view country);

struct ContactsImportResult {
    bool ok = false;
    std::vector<ImportedGroup> groups;
    std::size_t contacts = 0;
    std::size_t withoutEmail = 0;
    std::string message;
};
ContactsImportResult importContacts(const Paths& paths, const std::string& file,
                                    GroupNamer::Clock clock = nullptr, unsigned seed = 0);

}  // namespace qm
