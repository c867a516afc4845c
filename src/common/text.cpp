#include "common/text.h"

#include <openssl/crypto.h>

namespace qm {

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string lineEndsToBlanks(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

std::string_view trimWhite(std::string_view s) {
    auto white = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && white(s.front())) s.remove_prefix(1);
    while (!s.empty() && white(s.back())) s.remove_suffix(1);
    return s;
}

void wipeSecret(std::string& s) {
    if (!s.empty()) OPENSSL_cleanse(s.data(), s.size());
    s.clear();
}

}  // namespace qm
