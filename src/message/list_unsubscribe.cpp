#include "message/list_unsubscribe.h"

#include "message/html_tools.h"
#include "message/list_id.h"

namespace qm {

namespace {

constexpr std::size_t kMaxLine = 998;
constexpr std::size_t kFoldAt = 78;

bool isUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

std::string percentEncode(std::string_view text, std::string_view alsoKept) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        if (isUnreserved(c) || alsoKept.find(c) != std::string_view::npos) {
            out += c;
            continue;
        }
        auto b = static_cast<unsigned char>(c);
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

// Printable ASCII that may stand in a URL as it is.
bool isUrlChar(char c) {
    auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) return false;
    return std::string_view("<>\"\\^`{|}").find(c) == std::string_view::npos;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

std::string replaceAll(std::string_view text, std::string_view what, std::string_view with) {
    std::string out;
    std::size_t pos = 0;
    for (std::size_t at; (at = text.find(what, pos)) != std::string_view::npos;) {
        out.append(text.substr(pos, at - pos));
        out.append(with);
        pos = at + what.size();
    }
    out.append(text.substr(pos));
    return out;
}

}  // namespace

std::string checkUnsubscribeUrl(std::string_view url) {
    if (url.empty()) return {};
    if (url.size() > kMaxUnsubscribeUrl)
        return "The unsubscribe URL is longer than " + std::to_string(kMaxUnsubscribeUrl) +
               " characters.";
    if (!startsWithNoCase(url, "https://"))
        return "The unsubscribe URL must start with https:// (one-click unsubscribing needs "
               "https).";
    for (char c : url)
        if (!isUrlChar(c))
            return "The unsubscribe URL holds a character that a URL cannot hold unencoded "
                   "(a blank, a line break, a non-ASCII letter or one of <>\"\\^`{|}).";
    std::string_view rest = url.substr(8);
    std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
    if (host.empty() || host.find(kEmailPlaceholder) != std::string_view::npos ||
        host.find(kGroupPlaceholder) != std::string_view::npos)
        return "The unsubscribe URL has no host name after https://.";
    return {};
}

std::string fillUnsubscribeUrl(std::string_view url, std::string_view recipient,
                               std::string_view group) {
    std::string filled = replaceAll(url, kEmailPlaceholder, percentEncode(recipient, {}));
    return replaceAll(filled, kGroupPlaceholder, percentEncode(group, {}));
}

std::vector<std::string> listUnsubscribeHeaders(const CampaignMessage& m,
                                                std::string_view recipient,
                                                std::optional<std::string_view> group) {
    if (m.unsubscribeAddress.empty()) return {};
    std::string subject =
        group ? unsubscribeLinkSubject(m.unsubscribeScope, group) : std::string("Unsubscribe");
    // RFC 6068: the address as it stands except what a mailto: URL has to encode.
    std::string mailto = "<mailto:" + percentEncode(m.unsubscribeAddress, "!$'()*+,;:@") +
                         "?subject=" + subject + ">";
    std::string line = "List-Unsubscribe: " + mailto;
    if (line.size() > kMaxLine) return {};
    if (m.unsubscribeUrl.empty() || !checkUnsubscribeUrl(m.unsubscribeUrl).empty()) return {line};
    const bool named = group && m.unsubscribeScope == UnsubscribeScope::SingleGroup;
    std::string url =
        "<" + fillUnsubscribeUrl(m.unsubscribeUrl, recipient, named ? *group : "") + ">";
    if (1 + url.size() > kMaxLine) return {line};
    if (line.size() + 2 + url.size() <= kFoldAt)
        line += ", " + url;
    else
        line += ",\r\n " + url;
    return {line, "List-Unsubscribe-Post: List-Unsubscribe=One-Click"};
}

std::vector<std::string> listHeaders(const CampaignMessage& m, std::string_view recipient,
                                     std::optional<std::string_view> group) {
    std::vector<std::string> lines;
    if (m.listId && group) {
        std::string id = listIdHeader(*group, m.senderAddress);
        if (!id.empty()) lines.push_back(std::move(id));
    }
    for (auto& line : listUnsubscribeHeaders(m, recipient, group)) lines.push_back(std::move(line));
    return lines;
}

}  // namespace qm
