#include "groups/csv_table.h"

#include <algorithm>
#include <vector>

#include "common/charset.h"
#include "common/text.h"
#include "groups/address.h"

namespace qm {

namespace {

// The separator from the first record: quoted text does not count.
char detectSeparator(std::string_view text) {
    std::size_t commas = 0, semicolons = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\r' || c == '\n') break;
        commas += c == ',';
        semicolons += c == ';';
    }
    return semicolons > commas ? ';' : ',';
}

// Lower-case letters and digits only: "E-mail 1 - Value" -> "email1value".
std::string headerKey(std::string_view name) {
    std::string key;
    for (char c : name) {
        if (c >= 'A' && c <= 'Z') key += static_cast<char>(c - 'A' + 'a');
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) key += c;
    }
    return key;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// How well a header key names the main e-mail column (0: not at all). A first, primary or
// unnumbered e-mail wins over a second one; the type and label columns beside a value are not
// addresses.
int emailScore(const std::string& key) {
    if (!contains(key, "mail")) return 0;
    if (contains(key, "type") || contains(key, "label") || contains(key, "display") ||
        contains(key, "format") || contains(key, "sensitivity"))
        return 0;
    if (key == "email" || key == "emailaddress" || key == "mail" || key == "email1" ||
        key == "email1value" || key == "primaryemail" || key == "emailaddress1")
        return 3;
    if (contains(key, "2") || contains(key, "3") || contains(key, "secondary") ||
        contains(key, "other"))
        return 1;
    return 2;
}

struct FieldNames {
    CsvField field;
    std::vector<std::string_view> keys;  // exact header keys, best first
};

// The header keys of the common exports (Outlook, Google Contacts, Thunderbird, and the short
// names a hand-made sheet uses).
const FieldNames kFieldNames[] = {
    {CsvField::Name, {"name", "fullname", "displayname", "contactname"}},
    {CsvField::FirstName, {"firstname", "givenname", "forename"}},
    {CsvField::LastName, {"lastname", "familyname", "surname"}},
    {CsvField::Title, {"title", "nameprefix", "salutation"}},
    {CsvField::Company,
     {"company", "organization", "organisation", "organization1name", "organisation1name",
      "companyname"}},
    {CsvField::Telephone,
     {"telephone", "phone", "businessphone", "workphone", "phone1value", "homephone", "phonenumber",
      "telephonenumber"}},
    {CsvField::Mobile, {"mobile", "mobilephone", "cellphone", "mobilenumber", "cell"}},
    {CsvField::Fax, {"fax", "businessfax", "faxnumber", "homefax"}},
    {CsvField::Address1,
     {"address", "address1", "street", "businessstreet", "homestreet", "workaddress", "homeaddress",
      "address1street", "streetaddress"}},
    {CsvField::Address2,
     {"address2", "businessstreet2", "homestreet2", "workaddress2", "homeaddress2",
      "address1extendedaddress"}},
    {CsvField::City, {"city", "businesscity", "homecity", "workcity", "address1city", "town"}},
    {CsvField::State,
     {"state", "region", "province", "businessstate", "homestate", "workstate", "address1region",
      "stateprovince"}},
    {CsvField::Zip,
     {"zip", "zipcode", "postalcode", "postcode", "businesspostalcode", "homepostalcode",
      "workzipcode", "homezipcode", "address1postalcode"}},
    {CsvField::Country,
     {"country", "countryregion", "businesscountryregion", "homecountryregion", "businesscountry",
      "homecountry", "workcountry", "address1country"}},
};

std::string field(const std::vector<std::string>& record, const std::optional<std::size_t>& at) {
    if (!at || *at >= record.size()) return {};
    std::string value(trimWhite(record[*at]));
    return userLength(value) > kMaxCsvFieldChars ? firstChars(value, kMaxCsvFieldChars) : value;
}

}  // namespace

CsvTable readCsvTable(std::string_view text) {
    CsvTable table;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    table.separator = detectSeparator(text);
    const char sep = table.separator;

    std::vector<std::string> record;
    std::string value;
    bool blank = true;  // the record so far is one empty unquoted field
    auto endField = [&] {
        if (record.size() < kMaxCsvColumns) record.push_back(std::move(value));
        value.clear();
    };
    auto endRecord = [&] {
        endField();
        if (!blank) {
            if (table.header.empty() && table.records.empty())
                table.header = std::move(record);
            else
                table.records.push_back(std::move(record));
        }
        record.clear();
        blank = true;
    };

    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (c == '"' && value.empty()) {
            // A quoted field: up to the next lone quote; "" is one quote.
            blank = false;
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        value += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                // Copy the run up to the next quote at once.
                std::size_t q = text.find('"', i);
                if (q == std::string_view::npos) q = n;
                value.append(text.substr(i, q - i));
                i = q;
            }
            continue;
        }
        if (c == sep) {
            blank = false;
            endField();
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            endRecord();
            i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
            continue;
        }
        // Plain text up to the next separator, quote or line end.
        std::size_t end = i;
        while (end < n && text[end] != sep && text[end] != '\r' && text[end] != '\n' &&
               (text[end] != '"' || end == i))
            ++end;
        if (end == i) end = i + 1;  // a quote inside unquoted text is data
        value.append(text.substr(i, end - i));
        blank = false;
        i = end;
    }
    if (!blank || !value.empty()) endRecord();
    return table;
}

CsvColumns guessCsvColumns(const CsvTable& table) {
    CsvColumns columns;
    int best = 0;
    std::vector<std::string> keys;
    for (const auto& name : table.header) keys.push_back(headerKey(name));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        int score = emailScore(keys[i]);
        if (score > best) best = score, columns.email = i;
    }
    if (!columns.email) {
        // No header names it (or there is no header row to speak of): the first column whose
        // first value is an address, the header row itself included.
        std::vector<const std::vector<std::string>*> rows{&table.header};
        for (const auto& r : table.records) rows.push_back(&r);
        const std::size_t width = table.header.size();
        for (std::size_t col = 0; col < width && !columns.email; ++col)
            for (const auto* r : rows) {
                if (col >= r->size() || trimWhite((*r)[col]).empty()) continue;
                if (isEmailAddress(trimWhite((*r)[col]))) {
                    columns.email = col;
                    columns.headerIsRecord = r == &table.header;
                }
                break;
            }
        if (columns.headerIsRecord) return columns;  // no names to map
    }
    for (const FieldNames& f : kFieldNames) {
        for (std::string_view want : f.keys) {
            auto it = std::find(keys.begin(), keys.end(), want);
            if (it == keys.end()) continue;
            const auto at = static_cast<std::size_t>(it - keys.begin());
            if (columns.email && at == *columns.email) continue;
            columns[f.field] = at;
            break;
        }
    }
    return columns;
}

std::optional<std::size_t> findCsvColumn(const CsvTable& table, std::string_view named) {
    named = trimWhite(named);
    if (named.empty()) return std::nullopt;
    for (std::size_t i = 0; i < table.header.size(); ++i)
        if (lowerAscii(trimWhite(table.header[i])) == lowerAscii(named)) return i;
    if (named.size() <= 4 &&
        std::all_of(named.begin(), named.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::size_t number = 0;
        for (char c : named) number = number * 10 + static_cast<std::size_t>(c - '0');
        if (number >= 1 && number <= table.header.size()) return number - 1;
    }
    return std::nullopt;
}

Recipient csvRecipient(const std::vector<std::string>& record, const CsvColumns& columns) {
    Recipient r;
    if (columns.email && *columns.email < record.size())
        r.email = std::string(trimWhite(record[*columns.email]));
    using F = CsvField;
    r.name = field(record, columns[F::Name]);
    if (r.name.empty()) {
        std::string first = field(record, columns[F::FirstName]);
        std::string last = field(record, columns[F::LastName]);
        r.name = first.empty() || last.empty() ? first + last : first + " " + last;
        if (userLength(r.name) > kMaxCsvFieldChars) r.name = firstChars(r.name, kMaxCsvFieldChars);
    }
    r.title = field(record, columns[F::Title]);
    r.company = field(record, columns[F::Company]);
    r.telephone = field(record, columns[F::Telephone]);
    r.mobile = field(record, columns[F::Mobile]);
    r.fax = field(record, columns[F::Fax]);
    r.address1 = escapeAddress(field(record, columns[F::Address1]));
    r.address2 = escapeAddress(field(record, columns[F::Address2]));
    r.city = field(record, columns[F::City]);
    r.state = field(record, columns[F::State]);
    r.zip = field(record, columns[F::Zip]);
    r.country = field(record, columns[F::Country]);
    return r;
}

}  // namespace qm
