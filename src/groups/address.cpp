#include "groups/address.h"

#include <boost/regex.hpp>
#include <cstring>
#include <new>
#include <unordered_set>

namespace qm {

namespace {

const boost::regex& addressRegex() {
    static const boost::regex re(kAddressPattern);
    return re;
}

inline bool isAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool isLocalChar(unsigned char c) {
    return isAlnum(c) || c == '.' || c == '_';
}
inline bool isDomainChar(unsigned char c) {
    return isLocalChar(c) || c == '-';
}

}  // namespace

std::string_view domainOf(std::string_view address) {
    std::size_t at = address.rfind('@');
    return at == std::string_view::npos ? std::string_view{} : address.substr(at + 1);
}

bool isEmailAddress(std::string_view text) {
    if (text.empty()) return false;
    try {
        return boost::regex_match(text.begin(), text.end(), addressRegex());
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool isEmailAddressQuick(std::string_view text) {
    // Local part: runs joined by single "." or "_"; "@"; domain: at least two runs joined by
    // single ".", "_" or "-", the last joined by "." and 2 to 10 long.
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto run = [&](std::size_t& at) {
        std::size_t from = at;
        while (at < n && isAlnum(static_cast<unsigned char>(text[at]))) ++at;
        return at - from;
    };
    if (run(i) == 0) return false;
    while (i < n && (text[i] == '.' || text[i] == '_')) {
        ++i;
        if (run(i) == 0) return false;
    }
    if (i >= n || text[i] != '@') return false;
    ++i;
    if (run(i) == 0) return false;
    std::size_t runs = 1, last = 0;
    char lastSep = 0;
    while (i < n && (text[i] == '.' || text[i] == '_' || text[i] == '-')) {
        lastSep = text[i++];
        last = run(i);
        if (last == 0) return false;
        ++runs;
    }
    return i == n && runs >= 2 && lastSep == '.' && last >= 2 && last <= 10;
}

namespace detail {

// Every match holds exactly one "@"; its local part is made of letters, digits, "." and "_"
// and its domain adds "-". So for each "@" the match, if any, lies inside the run of those
// characters around it, and starts at the leftmost position from which the text up to the "@"
// is a valid local part (runs of letters and digits joined by single separators). A later start
// cannot succeed where that one failed, because the domain side is the same for all of them.
// The regex thus runs once per "@" over its own small window, never from every offset.
bool nextEmailAddress(std::string_view text, std::size_t from, std::size_t& begin,
                      std::size_t& end) {
    const char* data = text.data();
    const std::size_t size = text.size();
    std::size_t at = from;
    while (at < size) {
        const void* hit = std::memchr(data + at, '@', size - at);
        if (!hit) return false;
        at = static_cast<const char*>(hit) - data;
        std::size_t next = at + 1;

        // Walk back over a valid local part: alnum runs joined by single separators.
        std::size_t start = at;
        std::size_t i = at;
        while (i > from) {
            unsigned char c = static_cast<unsigned char>(data[i - 1]);
            if (isAlnum(c)) {
                --i;
                start = i;
            } else if ((c == '.' || c == '_') && i < at &&
                       isAlnum(static_cast<unsigned char>(data[i])) && i - 1 > from &&
                       isAlnum(static_cast<unsigned char>(data[i - 2]))) {
                --i;
            } else {
                break;
            }
        }
        if (start == at) {
            at = next;
            continue;
        }
        std::size_t stop = at + 1;
        while (stop < size && isDomainChar(static_cast<unsigned char>(data[stop]))) ++stop;

        boost::match_results<const char*> m;
        bool ok = false;
        try {
            ok = boost::regex_search(data + start, data + stop, m, addressRegex(),
                                     boost::match_continuous);
        } catch (const std::runtime_error&) {
            ok = false;
        }
        if (ok) {
            begin = start;
            end = start + static_cast<std::size_t>(m.length(0));
            return true;
        }
        at = next;
    }
    return false;
}

}  // namespace detail

std::vector<std::string> findEmailAddresses(std::string_view text) {
    std::vector<std::string> out;
    forEachEmailAddress(text, [&](std::string_view a) { out.emplace_back(a); });
    return out;
}

bool violatesRule(std::string_view text, std::string_view rule) {
    return text.find_first_of(rule) != std::string_view::npos;
}

AddressList parseAddressList(std::string_view boxText) {
    AddressList result;
    if (boxText.empty()) return result;
    std::string_view text = trimWhite(boxText);
    std::vector<std::string> entered;  // oldest first; reversed at the end
    std::unordered_set<std::string> seen;
    try {
        std::size_t pos = 0;
        while (pos <= text.size()) {
            std::size_t sep = text.find_first_of(";,", pos);
            if (sep == std::string_view::npos) sep = text.size();
            std::string_view token = trimWhite(text.substr(pos, sep - pos));
            pos = sep + 1;
            if (!isEmailAddress(token)) continue;
            if (entered.size() >= kMaxTypedAddresses) {
                result.message = kMsgTooManyAddresses;
                break;
            }
            if (!seen.insert(lowerAscii(token)).second) continue;
            entered.emplace_back(token);
        }
    } catch (const std::bad_alloc&) {
        result.message = kMsgNoSpaceForAddresses;
    } catch (const std::exception&) {
        result.message = kMsgInsertFailed;
    }
    result.addresses.assign(entered.rbegin(), entered.rend());
    return result;
}

}  // namespace qm
