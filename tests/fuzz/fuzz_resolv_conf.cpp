// resolv.conf is whatever the system or the user put there: any bytes must read without a crash,
// each name server, domain and search domain must be one word of the text (no blank or line end in
// it, never empty), the search list holds no more words than the text, and a server word either
// gives a non-empty address and a port from 1 to 65535 or is refused.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "delivery/dns_resolver.h"

namespace {

void checkWord(std::string_view text, const std::string& word) {
    if (word.empty() || word.find_first_of(" \t\r\n") != std::string::npos) std::abort();
    if (text.find(word) == std::string_view::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const qm::ResolverConfig config = qm::parseResolverConfig(text);
    std::size_t bytes = 0;
    for (const auto& s : config.nameServers) {
        checkWord(text, s);
        bytes += s.size();
        qm::DnsServerAddress server;
        if (qm::parseDnsServer(s, server)) {
            if (server.address.empty() || server.port < 1 || server.port > 65535) std::abort();
            if (s.find(server.address) == std::string::npos) std::abort();
        }
    }
    if (bytes > size) std::abort();
    if (!config.domain.empty()) checkWord(text, config.domain);
    bytes = 0;
    for (const auto& s : config.search) {
        checkWord(text, s);
        bytes += s.size();
    }
    if (bytes > size) std::abort();

    // Any text as a server word, line ends and blanks included.
    qm::DnsServerAddress server;
    if (qm::parseDnsServer(text, server) &&
        (server.address.empty() || server.port < 1 || server.port > 65535))
        std::abort();
    return 0;
}
