#include "message/html_tools.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "common/file_util.h"
#include "message/mime_part.h"

namespace qm {

namespace {

constexpr std::uint64_t kMaxPageBytes = 64ull << 20;

bool isIdChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '+';
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

// A reference to one attachment: the attribute value from `start` up to the end of the name.
struct Reference {
    std::size_t start, end, index;
};

// Finds the references to `name` in `body` (see the file comment of html_tools.h for what counts).
void findReferences(std::string_view body, std::string_view name, std::size_t index,
                    std::vector<Reference>& found) {
    std::size_t from = 0;
    for (std::size_t at; (at = body.find(name, from)) != std::string_view::npos;) {
        const std::size_t end = at + name.size();
        from = end;
        // Inside a tag: the last "<" before it is closed by a ">" only after it.
        std::size_t open = at == 0 ? std::string_view::npos : body.rfind('<', at - 1);
        if (open == std::string_view::npos) continue;
        std::size_t close = body.find('>', open);
        if (close == std::string_view::npos || close < end) continue;
        // The attribute: the last "=" of this tag before the name; its value starts at a quote
        // between them, else at the "=".
        std::size_t eq = body.rfind('=', at - 1);
        if (eq == std::string_view::npos || eq < open) continue;
        std::size_t valueStart = eq;
        for (std::size_t q = eq + 1; q < at; ++q)
            if (isQuote(body[q])) {
                valueStart = q;
                break;
            }
        // Only the whole file name counts ("a.jpg" is not a reference to "sa.jpg" or "a.jpg.bak").
        char before = body[at - 1];
        if (at != valueStart + 1 && before != '/' && before != '\\') continue;
        char after = end < body.size() ? body[end] : '>';
        if (!isQuote(after) && after != '>' && after != ' ' && after != '\t' && after != '\r' &&
            after != '\n')
            continue;
        found.push_back({valueStart + 1, end, index});
    }
}

std::string percentEncodeSubject(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        if (c == ' ') c = ':';
        auto b = static_cast<unsigned char>(c);
        if (isIdChar(c) && c != '+') {
            out += c;
        } else if (c == ':' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

std::string blanksToColons(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == ' ') c = ':';
    return out;
}

}  // namespace

GeneratedPage readGeneratedPage(std::string_view page) {
    GeneratedPage info;
    info.generated = page.find(kGeneratedPageMarker) != std::string_view::npos;
    std::size_t count = page.find("<!---##");
    if (count != std::string_view::npos && count + 7 < page.size()) {
        char digit = page[count + 7];
        if (digit >= '0' && digit <= '9') info.pictureCount = digit - '0';
    }
    for (int i = 1; i <= info.pictureCount; ++i) {
        std::string open = "<!---Image#" + std::to_string(i) + ":";
        std::string close = std::to_string(i) + "#--->";
        std::string path;
        std::size_t start = page.find(open);
        if (start != std::string_view::npos) {
            start += open.size();
            std::size_t stop = page.find(close, start);
            if (stop != std::string_view::npos)
                path = std::string(page.substr(start, stop - start));
        }
        info.picturePaths.push_back(std::move(path));
    }
    return info;
}

InsertPageResult insertWebPage(CampaignMessage& m, const std::string& path) {
    InsertPageResult result;
    std::string page;
    if (!readFile(path, page, nullptr, kMaxPageBytes)) page.clear();
    GeneratedPage info = readGeneratedPage(page);
    if (!info.generated) {
        result.messages.emplace_back(kMsgAddImagesYourself);
        m.generatedPage = false;
    } else {
        m.generatedPage = true;
        m.webPagePath = path;
        m.attachments.clear();
        for (const auto& picture : info.picturePaths) {
            switch (m.attachments.addGeneratedPicture(picture)) {
                case AttachmentList::PictureResult::Added:
                    break;
                case AttachmentList::PictureResult::TooLarge:
                    result.messages.emplace_back(kMsgAttachmentsTooLarge);
                    break;
                case AttachmentList::PictureResult::Missing:
                    result.messages.emplace_back(kMsgTemplateInfoLost);
                    break;
            }
        }
    }
    if (!page.empty()) {
        m.htmlText = std::move(page);
        m.format = MessageFormat::Html;
        m.pageInserted = true;
        m.webPagePath = path;
        result.loaded = true;
    }
    return result;
}

std::vector<bool> rewriteInlineReferences(std::string& body,
                                          const std::vector<std::string>& names) {
    std::vector<bool> referred(names.size(), false);
    // Every name is looked for in the body as written, never in "cid:" text put in for another
    // name, so each reference ends up naming the part of the file it named.
    std::vector<Reference> found;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (!names[i].empty()) findReferences(body, names[i], i, found);
    if (found.empty()) return referred;
    // Where two references overlap (a name that ends another one's path), the earlier name in the
    // list keeps it.
    std::vector<Reference> kept;
    std::map<std::size_t, std::size_t> taken;  // start -> end of the references kept
    for (const auto& r : found) {
        auto next = taken.lower_bound(r.start);
        if (next != taken.end() && next->first < r.end) continue;
        if (next != taken.begin() && std::prev(next)->second > r.start) continue;
        taken.emplace(r.start, r.end);
        kept.push_back(r);
    }
    std::sort(kept.begin(), kept.end(),
              [](const Reference& a, const Reference& b) { return a.start < b.start; });
    const std::vector<std::string> ids = contentIdsFor(names);
    std::string out;
    out.reserve(body.size() + kept.size() * 16);
    std::size_t from = 0;
    for (const auto& r : kept) {
        out.append(body, from, r.start - from);
        out += "cid:";
        out += ids[r.index];
        out += ' ';
        from = r.end;
        referred[r.index] = true;
    }
    out.append(body, from, std::string::npos);
    body = std::move(out);
    return referred;
}

void rewriteInlineImages(std::string& body, AttachmentList& list) {
    std::vector<bool> referred = rewriteInlineReferences(body, list.names());
    for (std::size_t i = 0; i < referred.size(); ++i)
        if (referred[i]) list.setEmbedded(i);
}

std::string unsubscribeLinkSubject(UnsubscribeScope scope, std::optional<std::string_view> group) {
    if (!group) return {};
    return scope == UnsubscribeScope::SingleGroup ? "Unsubscribe-" + percentEncodeSubject(*group)
                                                  : "Unsubscribe";
}

std::string unsubscribeText(MessageFormat format, std::string_view address, UnsubscribeScope scope,
                            std::optional<std::string_view> group, FooterMarkup markup) {
    std::string u(address);
    if (format == MessageFormat::Html) {
        std::string subject = unsubscribeLinkSubject(scope, group);
        if (!subject.empty()) subject = "?Subject=" + subject;
        const std::string link =
            "mailto:" + u + subject + "\">Send Mail To " + u + " to unsubscribe.";
        if (markup == FooterMarkup::LowerCase)
            return "<center><br><a href=\"" + link + "</a></center>";
        return "<Center><BR><A href=\"" + link + "</A></Center>";
    }
    std::string subject;
    if (group && scope == UnsubscribeScope::SingleGroup)
        subject = " with Subject: Unsubscribe-" + blanksToColons(*group);
    return "\r\nMail To:- " + u + subject + " to unsubscribe.";
}

std::string withUnsubscribeText(std::string_view body, MessageFormat format,
                                std::string_view address, UnsubscribeScope scope,
                                std::optional<std::string_view> group, FooterMarkup markup) {
    std::string text = unsubscribeText(format, address, scope, group, markup);
    if (format != MessageFormat::Html) return std::string(body) + text;
    static constexpr std::string_view kClose = "</body>";
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = body.find(kClose, from)) != std::string_view::npos;) {
        out.append(body.substr(from, at - from));
        out += text;
        out += kClose;
        from = at + kClose.size();
    }
    if (from == 0) return std::string(body) + text + "</body></html>";
    out.append(body.substr(from));
    return out;
}

}  // namespace qm
