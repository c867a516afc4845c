#include "groups/recipient.h"

#include "common/charset.h"

namespace qm {

namespace {

// Zero-based positions of the escaped address fields in a group line.
constexpr int kAddress1Position = 3;
constexpr int kAddress2Position = 8;

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

std::string formatLine(const Recipient& r, bool plain) {
    auto fields = lineFields(r);
    std::string out;
    size_t total = 2 + kGroupLineFields;
    for (const auto* f : fields) total += f->size();
    out.reserve(total);
    for (int i = 0; i < kGroupLineFields; ++i) {
        const std::string& f = *fields[i];
        if (i == kAddress1Position || i == kAddress2Position) {
            // Escaped addresses can hold no comma; the plain form shows them as typed.
            out += plain ? unescapeAddress(f) : f;
        } else {
            // A line break would split the line; only the addresses are meant to hold one.
            for (char c : f) out += (c == ',') ? kCommaStandIn : (c == '\r' || c == '\n') ? ' ' : c;
        }
        out += ',';
    }
    out += statusLetter(r.status);
    return out;
}

}  // namespace

char statusLetter(RecipientStatus status) {
    switch (status) {
        case RecipientStatus::Disabled:
            return 'D';
        case RecipientStatus::Unsubscribed:
            return 'U';
        case RecipientStatus::Enabled:
            break;
    }
    return 'E';
}

RecipientStatus statusFromLetter(std::string_view rest) {
    if (rest.empty()) return RecipientStatus::Enabled;
    if (rest[0] == 'D') return RecipientStatus::Disabled;
    if (rest[0] == 'U') return RecipientStatus::Unsubscribed;
    return RecipientStatus::Enabled;
}

char Recipient::setStatus(RecipientStatus next) {
    char previous = statusLetter(status);
    status = next;
    return previous;
}

std::array<const std::string*, kGroupLineFields> lineFields(const Recipient& r) {
    return {&r.email, &r.name,     &r.telephone, &r.address1, &r.title, &r.company, &r.mobile,
            &r.fax,   &r.address2, &r.city,      &r.state,    &r.zip,   &r.country};
}

std::array<std::string*, kGroupLineFields> lineFields(Recipient& r) {
    return {&r.email, &r.name,     &r.telephone, &r.address1, &r.title, &r.company, &r.mobile,
            &r.fax,   &r.address2, &r.city,      &r.state,    &r.zip,   &r.country};
}

std::string escapeAddress(std::string_view plain) {
    std::string out(plain);
    replaceAll(out, "%", "%2B");
    replaceAll(out, ",", "%2A");
    // Every "%" typed is "%2B" by now, so these codes cannot be mistaken for typed text and older
    // files (which never hold them) read as before.
    replaceAll(out, "\r", "%0D");
    replaceAll(out, "\n", "%0A");
    return out;
}

std::string unescapeAddress(std::string_view escaped) {
    std::string out(escaped);
    replaceAll(out, "%2A", ",");
    replaceAll(out, "%0D", "\r");
    replaceAll(out, "%0A", "\n");
    replaceAll(out, "%2B", "%");
    return out;
}

std::string restoreCommas(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    size_t i = 0;
    while (i < field.size()) {
        size_t len = utf8SequenceLength(field.substr(i));
        if (len > 1) {
            out.append(field.substr(i, len));  // 0xB8 inside "ø" (C3 B8) is a letter, not a comma
            i += len;
            continue;
        }
        out += field[i] == kCommaStandIn ? ',' : field[i];
        ++i;
    }
    return out;
}

std::string displayField(const Recipient& r, RecipientField field) {
    switch (field) {
        case RecipientField::Address1:
            return restoreCommas(unescapeAddress(r.address1));
        case RecipientField::Address2:
            return restoreCommas(unescapeAddress(r.address2));
        default:
            break;
    }
    return restoreCommas(*lineFields(r)[static_cast<int>(field)]);
}

Recipient parseGroupLine(std::string_view line) {
    if (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n") line.remove_suffix(2);
    Recipient r;
    auto fields = lineFields(r);
    std::string_view rest = line;
    // A line without any comma carries no status at all (the whole line would be taken as one);
    // it reads as a new record does.
    if (rest.find(',') == std::string_view::npos) return r;
    for (int i = 0; i < kGroupLineFields; ++i) {
        size_t comma = rest.find(',');
        if (comma == std::string_view::npos) break;  // this and every later field stay empty
        fields[i]->assign(rest.substr(0, comma));
        rest.remove_prefix(comma + 1);
    }
    r.status = statusFromLetter(rest);
    return r;
}

std::string formatStoredLine(const Recipient& r) {
    return formatLine(r, false);
}

std::string formatPlainLine(const Recipient& r) {
    return formatLine(r, true);
}

std::string recipientClipboardText(const Recipient& r) {
    return formatPlainLine(r) + "\r\n";
}

}  // namespace qm
