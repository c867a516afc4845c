// The recipient record and its group line.
//
// A group file holds one stored-form line per recipient: the thirteen fields in line order
// (Email, Name, Telephone, Address 1, Title, Company, Mobile, Fax, Address 2, City, State, Zip,
// Country/Region), each followed by a comma, then one status letter ("E", "D", "U").
// Address 1 and 2 are held escaped ("%" -> "%2B", then "," -> "%2A") in memory and on disk.
//
// Entry points: parseGroupLine(), formatStoredLine(), restoreCommas(), displayField().
// Failure: parseGroupLine() never fails: whatever text it gets, it returns a record (missing fields
// are empty, an unknown or missing status letter reads as Enabled). formatStoredLine() always
// writes a well-formed line: a comma in any field that has no escape of its own (a Company typed
// as "Smith, Jones" for instance) is written as the byte 0xB8, the same stand-in that recipient
// import uses for commas inside fields, so the line keeps its thirteen separators and old files
// read as before; a line break there is written as a space. Whatever shows or exports a field
// turns the stand-in back into a comma (restoreCommas, displayField).
// Limits: none beyond the line's length.
// Threads: pure functions.
// Standard: none (the system's own line format).
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace qm {

enum class RecipientStatus { Enabled, Disabled, Unsubscribed };

char statusLetter(RecipientStatus status);
// "D" and "U" as given; anything else (including nothing) is Enabled.
RecipientStatus statusFromLetter(std::string_view rest);

// Byte that stands for a comma inside a field that has no escape.
inline constexpr char kCommaStandIn = '\xB8';

struct Recipient {
    std::string name;
    std::string email;
    std::string address1;  // escaped
    std::string telephone;
    std::string title;
    std::string company;
    std::string mobile;
    std::string fax;
    std::string address2;  // escaped
    std::string city;
    std::string state;
    std::string zip;
    std::string country;
    RecipientStatus status = RecipientStatus::Enabled;

    // Stores the new status and returns the letter of the previous one.
    char setStatus(RecipientStatus next);

    bool operator==(const Recipient&) const = default;
};

// Number of text fields in a group line.
inline constexpr int kGroupLineFields = 13;

// The fields in group-line order, as pointers into `r`.
std::array<const std::string*, kGroupLineFields> lineFields(const Recipient& r);
std::array<std::string*, kGroupLineFields> lineFields(Recipient& r);

// "%" -> "%2B", "," -> "%2A", CR -> "%0D", LF -> "%0A" (a typed address may span lines).
std::string escapeAddress(std::string_view plain);
std::string unescapeAddress(std::string_view escaped);

// A stored field as shown or exported: every 0xB8 that stands alone (not part of a UTF-8 letter
// such as "ø") turns back into the comma it stands for.
std::string restoreCommas(std::string_view field);

// The fields by their group-line position.
enum class RecipientField {
    Email,
    Name,
    Telephone,
    Address1,
    Title,
    Company,
    Mobile,
    Fax,
    Address2,
    City,
    State,
    Zip,
    Country
};
// One field as a user sees it: addresses unescaped, commas restored.
std::string displayField(const Recipient& r, RecipientField field);

// Takes the line with or without its CR LF.
Recipient parseGroupLine(std::string_view line);
// Neither includes the CR LF; callers append it.
std::string formatStoredLine(const Recipient& r);
std::string formatPlainLine(const Recipient& r);

// Clipboard text for one copied recipient: its plain line and CR LF.
std::string recipientClipboardText(const Recipient& r);

}  // namespace qm
