#include "groups/group_export.h"

#include "common/atomic_file.h"
#include "common/charset.h"
#include "common/text.h"
#include "groups/group_files.h"
#include "groups/vcard_import.h"

namespace qm {

namespace {

constexpr std::string_view kCsvEmailsHeader = "Email Addresses\r\n";
constexpr std::string_view kCsvNamesHeader = "Name,Email\r\n";
constexpr std::string_view kCsvAllHeader =
    "Name,Email,Telephone,Address1,Title,Company,Mobile Number,Fax Number,Address2,City,State,Zip "
    "Code,Country\r\n";

// The export's column order (it differs from the group line's).
constexpr RecipientField kAllFieldsOrder[] = {
    RecipientField::Name,     RecipientField::Email, RecipientField::Telephone,
    RecipientField::Address1, RecipientField::Title, RecipientField::Company,
    RecipientField::Mobile,   RecipientField::Fax,   RecipientField::Address2,
    RecipientField::City,     RecipientField::State, RecipientField::Zip,
    RecipientField::Country};

std::string quoted(std::string_view value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string cell(const Recipient& r, RecipientField field, std::string_view separator) {
    std::string value = displayField(r, field);
    bool quote = (field == RecipientField::Address1 && value.find(',') != std::string::npos) ||
                 value.find(separator) != std::string::npos ||
                 value.find_first_of("\r\n") != std::string::npos;
    return quote ? quoted(value) : value;
}

StoreResult failed(std::string_view message) {
    return StoreResult{StoreStatus::WriteFailed, std::string(message), {}};
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// RFC 6350 text value: backslash, comma, semicolon and line breaks escaped.
std::string vcardText(std::string_view stored) {
    std::string value = storedToUtf8(stored);
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' || c == ',' || c == ';') {
            out += '\\';
            out += c;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

// Whether a value, as the import sees it, begins with a URI scheme that the import takes off.
bool startsWithScheme(std::string_view seen, std::string_view scheme) {
    seen = trimWhite(seen);
    return seen.size() >= scheme.size() && lowerAscii(seen.substr(0, scheme.size())) == scheme;
}

// A number as a card value. The import takes a "tel:" off the front of a number (a URI form);
// one that itself begins so gets a second, which the import takes off instead.
std::string vcardNumber(std::string_view display) {
    std::string seen(display);
    std::erase(seen, ',');  // the import removes commas first
    return (startsWithScheme(seen, "tel:") ? "tel:" : "") + vcardText(display);
}

// The address as a card value, the same way for "mailto:". An address that is "mailto:" alone is
// none, and is written as it is so that the card is left out again.
std::string vcardEmail(std::string_view display) {
    const bool scheme =
        startsWithScheme(display, "mailto:") && !trimWhite(trimWhite(display).substr(7)).empty();
    return (scheme ? "mailto:" : "") + vcardText(display);
}

// Folds one content line at 75 octets, never inside a UTF-8 sequence, and ends it with CR LF.
void appendFolded(std::string& out, std::string_view line) {
    std::size_t room = 75;
    while (line.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        out.append(line.substr(0, cut));
        out += "\r\n ";
        line.remove_prefix(cut);
        room = 74;  // the leading space counts
    }
    out.append(line);
    out += "\r\n";
}

}  // namespace

std::string_view separatorText(ExportSeparator separator) {
    switch (separator) {
        case ExportSeparator::Enter:
            return "\r\n";
        case ExportSeparator::Comma:
            return ",";
        case ExportSeparator::Semicolon:
            return ";";
        case ExportSeparator::Tab:
            return "\t";
        case ExportSeparator::Tilde:
            return "~";
        case ExportSeparator::Bar:
            return "|";
        case ExportSeparator::Caret:
            break;
    }
    return "^";
}

std::string exportFileName(std::string_view typed, bool csv) {
    const std::string_view extension = csv ? ".csv" : ".txt";
    std::string name(typed);
    if (!endsWith(name, extension)) name += extension;
    return name;
}

std::string buildExportText(const std::vector<Recipient>& rows, ExportMode mode,
                            ExportSeparator separator, bool csvHeader) {
    const std::string_view sep = separatorText(separator);
    std::string out;
    switch (mode) {
        case ExportMode::Emails:
            if (csvHeader) out += kCsvEmailsHeader;
            for (const auto& r : rows) {
                out += cell(r, RecipientField::Email, sep);
                out += sep;
            }
            break;
        case ExportMode::EmailsAndName:
            if (csvHeader) out += kCsvNamesHeader;
            for (const auto& r : rows) {
                out += cell(r, RecipientField::Name, sep);
                out += sep;
                out += cell(r, RecipientField::Email, sep);
                out += "\r\n";
            }
            break;
        case ExportMode::AllFields:
            if (csvHeader) out += kCsvAllHeader;
            for (const auto& r : rows) {
                bool first = true;
                for (RecipientField f : kAllFieldsOrder) {
                    if (!first) out += sep;
                    first = false;
                    out += cell(r, f, sep);
                }
                out += "\r\n";
            }
            break;
    }
    return out;
}

StoreResult exportToFile(const std::vector<Recipient>& rows, const std::string& path,
                         ExportMode mode, ExportSeparator separator) {
    if (path.empty()) return failed(kMsgExportNoFile);
    if (mode != ExportMode::Emails && separator == ExportSeparator::Enter)
        return failed("The Enter separator is offered for Emails only.");
    std::string error;
    if (!writeFileAtomic(path, buildExportText(rows, mode, separator, endsWith(path, "csv")),
                         &error))
        return failed(std::string(kMsgFailedToSave) + " (" + error + ")");
    return StoreResult{StoreStatus::Ok, std::string(kMsgExported), {}};
}

std::string buildVCards(const std::vector<Recipient>& rows) {
    std::string out;
    for (const auto& r : rows) {
        auto text = [&](RecipientField f) { return vcardText(displayField(r, f)); };
        auto add = [&](std::string_view property, const std::string& value) {
            if (!value.empty()) appendFolded(out, std::string(property) + ":" + value);
        };
        out += "BEGIN:VCARD\r\nVERSION:4.0\r\n";
        // FN is the one property every card must have; a recipient without a name is known by
        // the address.
        std::string name = text(RecipientField::Name);
        appendFolded(out, "FN:" + (name.empty() ? text(RecipientField::Email) : name));
        add("EMAIL", vcardEmail(displayField(r, RecipientField::Email)));
        auto number = [&](RecipientField f) { return vcardNumber(displayField(r, f)); };
        add("TEL;TYPE=home,voice", number(RecipientField::Telephone));
        // An imported home address holds its city, state, zip and country as its last lines too;
        // written in both places, every export and import would add them to Address 1 once more.
        std::string street = displayField(r, RecipientField::Address1);
        const std::string tail = vcardAddressTail(
            displayField(r, RecipientField::City), displayField(r, RecipientField::State),
            displayField(r, RecipientField::Zip), displayField(r, RecipientField::Country));
        if (!tail.empty() && street == tail)
            street.clear();
        else if (!tail.empty() && street.size() > tail.size() && street.ends_with("\n" + tail))
            street.resize(street.size() - tail.size() - 1);
        std::string home = vcardText(street) + ";" + text(RecipientField::City) + ";" +
                           text(RecipientField::State) + ";" + text(RecipientField::Zip) + ";" +
                           text(RecipientField::Country);
        if (home != ";;;;") add("ADR;TYPE=home", ";;" + home);
        add("TITLE", text(RecipientField::Title));
        add("ORG", text(RecipientField::Company));
        add("TEL;TYPE=cell", number(RecipientField::Mobile));
        add("TEL;TYPE=work,fax", number(RecipientField::Fax));
        std::string work = text(RecipientField::Address2);
        if (!work.empty()) add("ADR;TYPE=work", ";;" + work + ";;;;");
        out += "END:VCARD\r\n";
    }
    return out;
}

StoreResult exportVCards(const std::vector<Recipient>& rows, const std::string& path) {
    if (path.empty()) return failed(kMsgExportNoFile);
    std::string error;
    if (!writeFileAtomic(path, buildVCards(rows), &error))
        return failed(std::string(kMsgFailedToSave) + " (" + error + ")");
    return StoreResult{StoreStatus::Ok, std::string(kMsgExportedVCard), {}};
}

}  // namespace qm
