#include "groups/vcard_import.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "common/charset.h"
#include "common/file_util.h"
#include "common/quoted_printable.h"
#include "common/text.h"
#include "groups/group_files.h"
#include "groups/group_store.h"

namespace qm {

namespace {

constexpr std::uint64_t kMaxVCardFile = 256ull << 20;

struct Property {
    std::string name;                // upper case, group prefix removed
    std::vector<std::string> types;  // lower case
    int pref = INT_MAX;              // lower is preferred
    bool quotedPrintable = false;
    std::string value;  // raw (escapes kept), quoted-printable decoded
};

bool equalsUpper(std::string_view s, std::string_view upper) {
    if (s.size() != upper.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) != upper[i]) return false;
    return true;
}

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool hasType(const Property& p, std::string_view type) {
    return std::find(p.types.begin(), p.types.end(), type) != p.types.end();
}

// Splits at `sep` outside double quotes.
std::vector<std::string_view> splitOutsideQuotes(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') quoted = !quoted;
        if (s[i] == sep && !quoted) {
            out.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    out.push_back(s.substr(start));
    return out;
}

std::string_view unquote(std::string_view s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

// The name and parameters of a content line (everything before the first ":" outside quotes).
std::optional<Property> parseHead(std::string_view head) {
    auto parts = splitOutsideQuotes(head, ';');
    std::string_view name = parts[0];
    if (auto dot = name.rfind('.'); dot != std::string_view::npos) name = name.substr(dot + 1);
    if (name.empty()) return std::nullopt;
    Property p;
    p.name = upperAscii(name);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::string_view param = parts[i];
        auto eq = param.find('=');
        std::string key = upperAscii(trimWhite(param.substr(0, eq)));
        std::string_view value = eq == std::string_view::npos ? param : param.substr(eq + 1);
        if (eq == std::string_view::npos) {
            // vCard 2.1 writes bare types ("HOME", "PREF", "QUOTED-PRINTABLE").
            if (key == "QUOTED-PRINTABLE") {
                p.quotedPrintable = true;
                continue;
            }
            key = "TYPE";
        }
        if (key == "ENCODING") {
            if (equalsUpper(unquote(trimWhite(value)), "QUOTED-PRINTABLE"))
                p.quotedPrintable = true;
        } else if (key == "PREF") {
            int n = 0;
            for (char c : trimWhite(value)) {
                if (c < '0' || c > '9' || n > 1000) break;
                n = n * 10 + (c - '0');
            }
            p.pref = std::min(p.pref, n);
        } else if (key == "TYPE") {
            for (auto t : splitOutsideQuotes(unquote(trimWhite(value)), ',')) {
                std::string type = lowerAscii(trimWhite(unquote(t)));
                if (type == "pref") p.pref = std::min(p.pref, 0);
                p.types.push_back(std::move(type));
            }
        }
    }
    return p;
}

// The text of a value: escapes undone, 8-bit text that is not UTF-8 read as Windows-1252.
std::string unescape(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) {
            char n = raw[++i];
            out += (n == 'n' || n == 'N') ? '\n' : n;
        } else {
            out += raw[i];
        }
    }
    return isValidUtf8(out) ? out : storedToUtf8(out);
}

// The components of a structured value (N, ADR, ORG), split at ";" that is not escaped.
std::vector<std::string> components(std::string_view raw) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\') {
            ++i;
        } else if (raw[i] == ';') {
            out.push_back(unescape(raw.substr(start, i - start)));
            start = i + 1;
        }
    }
    out.push_back(unescape(raw.substr(start)));
    return out;
}

std::string joinNonEmpty(const std::vector<std::string>& parts, std::string_view sep) {
    std::string out;
    for (const auto& p : parts) {
        std::string_view t = trimWhite(p);
        if (t.empty()) continue;
        if (!out.empty()) out += sep;
        out += t;
    }
    return out;
}

struct Address {
    std::string lines, city, state, zip, country;
};

Address readAddress(const Property& p) {
    auto c = components(p.value);
    c.resize(std::max<std::size_t>(c.size(), 7));
    Address a;
    // PO box, extended address, street | locality, region, code | country.
    std::string street = joinNonEmpty({c[0], c[1], c[2]}, " ");
    a.lines = joinNonEmpty({street, vcardAddressTail(c[3], c[4], c[5], c[6])}, "\n");
    a.city = trimWhite(c[3]);
    a.state = trimWhite(c[4]);
    a.zip = trimWhite(c[5]);
    a.country = trimWhite(c[6]);
    return a;
}

// Commas go before the trimming, so that a number ending in " ," is stored as trimmed as one
// without the comma (a trim first kept its blank, and the next import took it off).
std::string plainNumber(std::string_view raw) {
    std::string v = unescape(raw);
    v.erase(std::remove(v.begin(), v.end(), ','), v.end());
    std::string_view t = trimWhite(v);
    if (t.size() >= 4 && equalsUpper(t.substr(0, 4), "TEL:")) t = trimWhite(t.substr(4));
    return std::string(t);
}

// The first property that `pick` accepts.
template <typename F>
const Property* first(const std::vector<Property>& props, std::string_view name, F&& pick) {
    for (const auto& p : props)
        if (p.name == name && pick(p)) return &p;
    return nullptr;
}

std::optional<Recipient> buildContact(const std::vector<Property>& props) {
    const Property* email = nullptr;
    for (const auto& p : props)
        if (p.name == "EMAIL" && !trimWhite(p.value).empty() && (!email || p.pref < email->pref))
            email = &p;
    if (!email) return std::nullopt;
    Recipient r;
    std::string address = unescape(email->value);
    std::string_view a = trimWhite(address);
    if (a.size() >= 7 && equalsUpper(a.substr(0, 7), "MAILTO:")) a.remove_prefix(7);
    // "mailto:" alone names no address: the card is one without an e-mail address.
    a = trimWhite(a);
    if (a.empty()) return std::nullopt;
    r.email = a;

    auto any = [](const Property&) { return true; };
    std::string name;
    if (const Property* fn = first(props, "FN", any)) name = trimWhite(unescape(fn->value));
    // A card made from a bare address carries the address as its formatted name (the export
    // writes a nameless recipient so, as a card must have one): that is no name.
    if (lowerAscii(name) == lowerAscii(r.email) ||
        lowerAscii(name) == lowerAscii(trimWhite(address)))
        name.clear();
    if (name.empty()) {
        if (const Property* n = first(props, "N", any)) {
            auto c = components(n->value);
            c.resize(std::max<std::size_t>(c.size(), 3));
            name = joinNonEmpty({c[1], c[2], c[0]}, " ");
        }
    }
    // Trimmed after the cut too: a blank the cut leaves at the end would go on the next import.
    if (userLength(name) > kMaxImportedName) name = trimWhite(firstChars(name, kMaxImportedName));
    r.name = name;

    auto isCell = [](const Property& p) { return hasType(p, "cell"); };
    auto isFax = [](const Property& p) { return hasType(p, "fax"); };
    auto voice = [&](const Property& p) { return !isCell(p) && !isFax(p) && !hasType(p, "pager"); };
    const Property* tel =
        first(props, "TEL", [&](const Property& p) { return voice(p) && hasType(p, "home"); });
    if (!tel) tel = first(props, "TEL", voice);
    if (tel) r.telephone = plainNumber(tel->value);
    if (const Property* cell = first(props, "TEL", isCell)) r.mobile = plainNumber(cell->value);
    const Property* fax =
        first(props, "TEL", [&](const Property& p) { return isFax(p) && hasType(p, "work"); });
    if (!fax) fax = first(props, "TEL", isFax);
    if (fax) r.fax = plainNumber(fax->value);

    const Property* home =
        first(props, "ADR", [](const Property& p) { return hasType(p, "home"); });
    if (!home) home = first(props, "ADR", [](const Property& p) { return !hasType(p, "work"); });
    const Property* work =
        first(props, "ADR", [](const Property& p) { return hasType(p, "work"); });
    if (home) {
        Address h = readAddress(*home);
        r.address1 = escapeAddress(h.lines);
        r.city = h.city;
        r.state = h.state;
        r.zip = h.zip;
        r.country = h.country;
    }
    if (work) r.address2 = escapeAddress(readAddress(*work).lines);
    if (const Property* title = first(props, "TITLE", any))
        r.title = trimWhite(unescape(title->value));
    if (const Property* org = first(props, "ORG", any))
        r.company = trimWhite(components(org->value)[0]);
    return r;
}

}  // namespace

std::string vcardAddressTail(std::string_view city, std::string_view state, std::string_view zip,
                             std::string_view country) {
    std::string place(trimWhite(city));
    if (!trimWhite(state).empty())
        place += (place.empty() ? "" : ", ") + std::string(trimWhite(state));
    if (!trimWhite(zip).empty()) place += (place.empty() ? "" : " ") + std::string(trimWhite(zip));
    return joinNonEmpty({place, std::string(country)}, "\n");
}

VCardParse parseVCards(std::string_view text) {
    VCardParse out;
    // Logical lines: physical lines (LF, a CR before it dropped) with folds and quoted-printable
    // soft breaks joined.
    std::vector<std::string> lines;
    std::size_t pos = 0;
    bool softBreak = false;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (softBreak && !lines.empty()) {
            lines.back().pop_back();  // the "="
            lines.back() += line;
        } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty()) {
            lines.back() += line.substr(1);
        } else {
            lines.emplace_back(line);
        }
        // A quoted-printable value that ends in "=" goes on in the next physical line.
        const std::string& cur = lines.back();
        softBreak = false;
        if (!cur.empty() && cur.back() == '=') {
            auto colon = splitOutsideQuotes(cur, ':')[0].size();
            if (colon < cur.size()) {
                auto head = parseHead(std::string_view(cur).substr(0, colon));
                softBreak = head && head->quotedPrintable;
            }
        }
    }

    int depth = 0;
    std::vector<Property> props;
    for (const std::string& line : lines) {
        std::size_t colon = splitOutsideQuotes(line, ':')[0].size();
        if (colon >= line.size()) continue;
        std::string_view head = std::string_view(line).substr(0, colon);
        std::string_view value = std::string_view(line).substr(colon + 1);
        auto p = parseHead(head);
        if (!p) continue;
        if (p->name == "BEGIN" && equalsUpper(trimWhite(value), "VCARD")) {
            if (++depth == 1) props.clear();
            continue;
        }
        if (p->name == "END" && equalsUpper(trimWhite(value), "VCARD")) {
            if (depth == 1) {
                if (auto r = buildContact(props))
                    out.contacts.push_back(std::move(*r));
                else
                    ++out.withoutEmail;
            }
            if (depth > 0) --depth;
            continue;
        }
        if (depth != 1) continue;
        p->value = p->quotedPrintable ? quotedPrintableDecode(value) : std::string(value);
        props.push_back(std::move(*p));
    }
    return out;
}

ContactsImportResult importContacts(const Paths& paths, const std::string& file,
                                    GroupNamer::Clock clock, unsigned seed) {
    ContactsImportResult result;
    std::string text, error;
    if (!readFile(file, text, &error, kMaxVCardFile)) {
        result.message = std::string(kMsgUnableToOpen) + " (" + error + ")";
        return result;
    }
    VCardParse parsed = parseVCards(text);
    result.contacts = parsed.contacts.size();
    result.withoutEmail = parsed.withoutEmail;
    if (parsed.contacts.empty()) {
        result.message = kMsgNoContacts;
        return result;
    }
    GroupNamer namer("Contacts", std::move(clock), seed);
    std::string group;
    std::size_t count = 0;
    auto flush = [&] {
        std::string name;
        if (!writeNewGroup(paths, namer, group, name, &error)) {
            result.message = error;
            if (!result.groups.empty())
                result.message += "\nThe groups made before it were written.";
            return false;
        }
        result.groups.push_back(ImportedGroup{name, count, file});
        group.clear();
        count = 0;
        return true;
    };
    for (const Recipient& r : parsed.contacts) {
        group += formatStoredLine(r);
        group += "\r\n";
        if (++count == kMaxGroupRecipients && !flush()) return result;
    }
    if (count > 0 && !flush()) return result;
    result.ok = true;
    result.message = kMsgContactsImported;
    if (parsed.withoutEmail > 0)
        result.message += "\n" + std::to_string(parsed.withoutEmail) +
                          " contact(s) without an e-mail address were left out.";
    return result;
}

}  // namespace qm
