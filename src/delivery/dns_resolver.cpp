#include "delivery/dns_resolver.h"

#include <arpa/inet.h>
#include <ldns/ldns.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/file_util.h"
#include "common/text.h"

namespace qm {

namespace {

struct NamedNumber {
    std::string_view name;
    int number;
};

constexpr NamedNumber kTypes[] = {
    {"A", 1},         {"NS", 2},         {"MD", 3},       {"MF", 4},     {"CNAME", 5},
    {"SOA", 6},       {"MB", 7},         {"MG", 8},       {"MR", 9},     {"NULL", 10},
    {"WKS", 11},      {"PTR", 12},       {"HINFO", 13},   {"MINFO", 14}, {"MX", 15},
    {"TEXT", 16},     {"RP", 17},        {"AFSDB", 18},   {"X25", 19},   {"ISDN", 20},
    {"RT", 21},       {"NSAP", 22},      {"NSAPPTR", 23}, {"SIG", 24},   {"KEY", 25},
    {"PX", 26},       {"GPOS", 27},      {"AAAA", 28},    {"LOC", 29},   {"NXT", 30},
    {"EID", 31},      {"NIMLOC", 32},    {"SRV", 33},     {"ATMA", 34},  {"NAPTR", 35},
    {"KX", 36},       {"CERT", 37},      {"A6", 38},      {"DNAME", 39}, {"SINK", 40},
    {"OPT", 41},      {"UINFO", 100},    {"UID", 101},    {"GID", 102},  {"UNSPEC", 103},
    {"ADDRS", 248},   {"TKEY", 249},     {"TSIG", 250},   {"IXFR", 251}, {"AXFR", 252},
    {"MAILB", 253},   {"MAILA", 254},    {"ALL", 255},    {"ANY", 255},  {"WINS", 65281},
    {"WINSR", 65282}, {"NBSTAT", 65282},
};

constexpr NamedNumber kClasses[] = {
    {"C_IN", 1},  {"IN", 1},      {"C_CSNET", 2}, {"CSNET", 2},    {"C_CHAOS", 3},
    {"CHAOS", 3}, {"C_HS", 4},    {"HS", 4},      {"C_NONE", 254}, {"NONE", 254},
    {"*", 255},   {"C_ANY", 255}, {"ANY", 255},   {"C_ALL", 255},  {"ALL", 255},
};

// Assigned Internet protocol numbers and their keywords (IANA registry), for WKS records.
constexpr std::string_view kProtocols[] = {
    "Reserved",   "ICMP",       "IGMP",      "GGP",     "IPv4",        "ST",
    "TCP",        "CBT",        "EGP",       "IGP",     "BBN-RCC-MON", "NVP-II",
    "PUP",        "ARGUS",      "EMCON",     "XNET",    "CHAOS",       "UDP",
    "MUX",        "DCN-MEAS",   "HMP",       "PRM",     "XNS-IDP",     "TRUNK-1",
    "TRUNK-2",    "LEAF-1",     "LEAF-2",    "RDP",     "IRTP",        "ISO-TP4",
    "NETBLT",     "MFE-NSP",    "MERIT-INP", "DCCP",    "3PC",         "IDPR",
    "XTP",        "DDP",        "IDPR-CMTP", "TP++",    "IL",          "IPv6",
    "SDRP",       "IPv6-Route", "IPv6-Frag", "IDRP",    "RSVP",        "GRE",
    "DSR",        "BNA",        "ESP",       "AH",      "I-NLSP",      "SWIPE",
    "NARP",       "MOBILE",     "TLSP",      "SKIP",    "IPv6-ICMP",   "IPv6-NoNxt",
    "IPv6-Opts",  "",           "CFTP",      "",        "SAT-EXPAK",   "KRYPTOLAN",
    "RVD",        "IPPC",       "",          "SAT-MON", "VISA",        "IPCV",
    "CPNX",       "CPHB",       "WSN",       "PVP",     "BR-SAT-MON",  "SUN-ND",
    "WB-MON",     "WB-EXPAK",   "ISO-IP",    "VMTP",    "SECURE-VMTP", "VINES",
    "TTP",        "NSFNET-IGP", "DGP",       "TCF",     "EIGRP",       "OSPFIGP",
    "Sprite-RPC", "LARP",       "MTP",       "AX.25",   "IPIP",        "MICP",
    "SCC-SP",     "ETHERIP",    "ENCAP",     "",        "GMTP",
};

int lookupName(const NamedNumber* table, std::size_t count, std::string_view name) {
    for (std::size_t i = 0; i < count; ++i)
        if (table[i].name == name) return table[i].number;
    return -1;
}

// "a.b.c.d" with four decimal octets, nothing else.
bool parseDottedQuad(std::string_view s, unsigned (&octets)[4]) {
    int part = 0;
    unsigned value = 0;
    int digits = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == '.') {
            if (digits == 0 || part > 3) return false;
            octets[part++] = value;
            value = 0;
            digits = 0;
            continue;
        }
        if (s[i] < '0' || s[i] > '9' || ++digits > 3) return false;
        value = value * 10 + static_cast<unsigned>(s[i] - '0');
        if (value > 255) return false;
    }
    return part == 4;
}

struct LdnsResolverFree {
    void operator()(ldns_resolver* r) const { ldns_resolver_deep_free(r); }
};
struct LdnsPktFree {
    void operator()(ldns_pkt* p) const { ldns_pkt_free(p); }
};
struct LdnsRdfFree {
    void operator()(ldns_rdf* r) const { ldns_rdf_deep_free(r); }
};

std::string renderName(const ldns_rdf* rdf) {
    if (!rdf || ldns_rdf_get_type(rdf) != LDNS_RDF_TYPE_DNAME) return {};
    char* s = ldns_rdf2str(rdf);
    if (!s) return {};
    std::string out(s);
    std::free(s);
    if (out.size() > 1 && out.back() == '.') out.pop_back();
    return out;
}

std::string renderIpv4(const ldns_rdf* rdf) {
    if (!rdf || ldns_rdf_size(rdf) != 4) return {};
    char buf[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, ldns_rdf_data(rdf), buf, sizeof buf)) return {};
    return buf;
}

// Which rdata field holds the name that a record type is asked for.
int nameField(int type) {
    switch (type) {
        case 15:  // MX
        case 18:  // AFSDB
        case 21:  // RT
            return 1;
        case 33:  // SRV
            return 3;
        case 2:
        case 3:
        case 4:
        case 5:
        case 7:
        case 8:
        case 9:
        case 12:  // host names
        case 6:   // SOA: primary server
        case 14:
        case 17:  // MINFO, RP: mailbox
        case 30:  // NXT: next name
            return 0;
        default:
            return -1;
    }
}

std::string renderRecord(const ldns_rr* rr, int type) {
    std::size_t count = ldns_rr_rd_count(rr);
    auto field = [&](std::size_t i) -> const ldns_rdf* {
        return i < count ? ldns_rr_rdf(rr, i) : nullptr;
    };
    if (type == 1) return renderIpv4(field(0));
    if (type == 10) return "NULL";
    if (type == 11) {  // WKS: address, protocol, service bitmap
        std::string address = renderIpv4(field(0));
        const ldns_rdf* proto = field(1);
        if (address.empty() || !proto || ldns_rdf_size(proto) < 1) return {};
        int number = ldns_rdf_data(proto)[0];
        return std::string(ipProtocolKeyword(number)) + ":" + address;
    }
    int index = nameField(type);
    if (index < 0) return {};
    return renderName(field(static_cast<std::size_t>(index)));
}

std::vector<std::string> renderPacket(const ldns_pkt* pkt, int type) {
    std::vector<std::string> out;
    const ldns_rr_list* answer = ldns_pkt_answer(pkt);
    if (!answer) return out;
    for (std::size_t i = 0; i < ldns_rr_list_rr_count(answer); ++i) {
        const ldns_rr* rr = ldns_rr_list_rr(answer, i);
        if (static_cast<int>(ldns_rr_get_type(rr)) != type) continue;
        std::string text = renderRecord(rr, type);
        if (!text.empty()) out.push_back(std::move(text));
    }
    return out;
}

// Every answer record of `type` as its data fields in presentation form.
std::vector<std::vector<std::string>> recordFields(const ldns_pkt* pkt, int type) {
    std::vector<std::vector<std::string>> out;
    const ldns_rr_list* answer = ldns_pkt_answer(pkt);
    if (!answer) return out;
    for (std::size_t i = 0; i < ldns_rr_list_rr_count(answer); ++i) {
        const ldns_rr* rr = ldns_rr_list_rr(answer, i);
        if (static_cast<int>(ldns_rr_get_type(rr)) != type) continue;
        std::vector<std::string> fields;
        for (std::size_t k = 0; k < ldns_rr_rd_count(rr); ++k) {
            char* text = ldns_rdf2str(ldns_rr_rdf(rr, k));
            fields.emplace_back(text ? text : "");
            std::free(text);
        }
        out.push_back(std::move(fields));
    }
    return out;
}

// A received packet, or nullptr when it does not parse.
std::unique_ptr<ldns_pkt, LdnsPktFree> wirePacket(std::string_view packet) {
    ldns_pkt* raw = nullptr;
    if (ldns_wire2pkt(&raw, reinterpret_cast<const uint8_t*>(packet.data()), packet.size()) !=
        LDNS_STATUS_OK)
        return nullptr;
    return std::unique_ptr<ldns_pkt, LdnsPktFree>(raw);
}

// Each TXT record of the answer as one text: its character-strings joined.
std::vector<std::string> renderTextPacket(const ldns_pkt* pkt) {
    std::vector<std::string> out;
    const ldns_rr_list* answer = ldns_pkt_answer(pkt);
    if (!answer) return out;
    for (std::size_t i = 0; i < ldns_rr_list_rr_count(answer); ++i) {
        const ldns_rr* rr = ldns_rr_list_rr(answer, i);
        if (ldns_rr_get_type(rr) != LDNS_RR_TYPE_TXT) continue;
        std::string text;
        for (std::size_t f = 0; f < ldns_rr_rd_count(rr); ++f) {
            const ldns_rdf* rdf = ldns_rr_rdf(rr, f);
            std::size_t size = ldns_rdf_size(rdf);
            const uint8_t* data = ldns_rdf_data(rdf);
            if (size < 1) continue;
            std::size_t len = std::min<std::size_t>(data[0], size - 1);
            text.append(reinterpret_cast<const char*>(data + 1), len);
        }
        out.push_back(std::move(text));
    }
    return out;
}

}  // namespace

bool parseDnsServer(std::string_view text, DnsServerAddress& out) {
    std::string_view host = text;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        host = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':' && rest.front() != '#') return false;
            port = rest.substr(1);
        }
    } else if (std::size_t hash = text.find('#'); hash != std::string_view::npos) {
        host = text.substr(0, hash);
        port = text.substr(hash + 1);
    } else if (std::size_t colon = text.find(':');
               colon != std::string_view::npos &&
               text.find(':', colon + 1) == std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    out.address = std::string(host);
    out.port = 53;
    if (!port.empty()) {
        int p = 0;
        for (char c : port) {
            if (c < '0' || c > '9') return false;
            p = p * 10 + (c - '0');
            if (p > 65535) return false;
        }
        if (p == 0) return false;
        out.port = p;
    }
    return !out.address.empty();
}

ResolverConfig parseResolverConfig(std::string_view text) {
    ResolverConfig config;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        std::vector<std::string> words;
        std::size_t w = 0;
        while (w < line.size()) {
            std::size_t b = line.find_first_not_of(" \t\r", w);
            if (b == std::string_view::npos) break;
            std::size_t e = line.find_first_of(" \t\r", b);
            if (e == std::string_view::npos) e = line.size();
            words.emplace_back(line.substr(b, e - b));
            w = e;
        }
        if (words.empty() || words[0][0] == '#' || words[0][0] == ';') continue;
        if (words[0] == "nameserver" && words.size() > 1) {
            config.nameServers.push_back(words[1]);
        } else if (words[0] == "domain" && words.size() > 1) {
            config.domain = words[1];
        } else if (words[0] == "search") {
            config.search.assign(words.begin() + 1, words.end());
        }
    }
    return config;
}

ResolverConfig systemResolverConfig() {
    const char* env = std::getenv("QUILLMARK_RESOLV_CONF");
    std::string path = env && *env ? env : "/etc/resolv.conf";
    std::string text;
    if (!readFile(path, text, nullptr, 1 << 20)) return {};
    return parseResolverConfig(text);
}

std::vector<std::string> splitDnsList(std::string_view text) {
    char sep = ' ';
    if (text.find(',') != std::string_view::npos)
        sep = ',';
    else if (text.find(';') != std::string_view::npos)
        sep = ';';
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(sep, pos);
        if (end == std::string_view::npos) end = text.size();
        std::string piece(trimWhite(text.substr(pos, end - pos)));
        if (!piece.empty()) out.push_back(std::move(piece));
        pos = end + 1;
    }
    return out;
}

int dnsTypeNumber(std::string_view name) {
    if (name.substr(0, 5) == "TYPE_")
        name.remove_prefix(5);
    else if (name.substr(0, 2) == "T_")
        name.remove_prefix(2);
    return lookupName(kTypes, std::size(kTypes), name);
}

int dnsClassNumber(std::string_view name) {
    return lookupName(kClasses, std::size(kClasses), name);
}

std::string_view ipProtocolKeyword(int number) {
    if (number == 0 || number == 255) return "Reserved";
    if (number < 0 || static_cast<std::size_t>(number) >= std::size(kProtocols)) return "Unknown";
    std::string_view k = kProtocols[number];
    return k.empty() ? "Unknown" : k;
}

std::vector<std::string> renderAnswer(std::string_view packet, int type) {
    auto pkt = wirePacket(packet);
    return pkt ? renderPacket(pkt.get(), type) : std::vector<std::string>{};
}

std::vector<std::string> renderTextAnswer(std::string_view packet) {
    auto pkt = wirePacket(packet);
    return pkt ? renderTextPacket(pkt.get()) : std::vector<std::string>{};
}

DnsResolver::DnsResolver() = default;

void DnsResolver::loadConfig() {
    if (configLoaded_) return;
    config_ = systemResolverConfig();
    configLoaded_ = true;
}

void DnsResolver::setSearchDomains(std::vector<std::string> domains) {
    search_.clear();
    for (auto& d : domains) addSearchDomain(std::move(d));
    searchFilled_ = true;
}

const std::vector<std::string>& DnsResolver::searchDomains() {
    if (!searchFilled_) fillSearchDomains();
    return search_;
}

void DnsResolver::addSearchDomain(std::string domain) {
    domain = lowerAscii(trimWhite(domain));
    while (!domain.empty() && domain.back() == '.') domain.pop_back();
    if (domain.empty()) return;
    bool known = false;
    for (const auto& d : search_) known = known || d == domain;
    if (!known) search_.push_back(domain);
    // The parent joins only while it still has two labels: "mail.corp.example" brings
    // "corp.example" but never a bare top-level domain.
    std::size_t dot = domain.find('.');
    if (dot == std::string::npos) return;
    std::string parent = domain.substr(dot + 1);
    if (parent.find('.') != std::string::npos) addSearchDomain(std::move(parent));
}

void DnsResolver::fillSearchDomains() {
    loadConfig();
    search_.clear();
    addSearchDomain(config_.domain);
    for (const auto& d : config_.search) addSearchDomain(d);
    searchFilled_ = true;
}

DnsAnswer DnsResolver::lookupMx(std::string_view name) {
    if (name.empty()) return queryEach(searchDomains(), 1, 15);
    return query(name, "C_IN", "T_MX");
}

DnsAnswer DnsResolver::lookupTxt(std::string_view name) {
    return queryOne(name, 1, static_cast<int>(LDNS_RR_TYPE_TXT), nullptr, true);
}

DnsAnswer DnsResolver::query(std::string_view names, std::string_view className,
                             std::string_view typeName) {
    return queryEach(splitDnsList(names), dnsClassNumber(className), dnsTypeNumber(typeName));
}

DnsAnswer DnsResolver::queryEach(const std::vector<std::string>& names, int cls, int type) {
    DnsAnswer result;
    for (const auto& name : names) {
        DnsAnswer one = queryOne(name, cls, type);
        for (auto& r : one.records) result.records.push_back(std::move(r));
        if (one.status == DnsStatus::TemporaryFailure && result.error.empty())
            result.error = one.error;
    }
    if (!result.records.empty()) {
        result.status = DnsStatus::Found;
        result.error = {};
    } else if (!result.error.empty()) {
        result.status = DnsStatus::TemporaryFailure;
    }
    return result;
}

std::string DnsResolver::joined(const DnsAnswer& answer) const {
    std::string out;
    for (const auto& r : answer.records) {
        if (!out.empty()) out += separator_;
        out += r;
    }
    return out;
}

DnsAnswer DnsResolver::queryOne(std::string_view name, int classNumber, int type,
                                std::vector<std::vector<std::string>>* fields, bool text) {
    const DnsAnswer nothing;
    const auto failure = [](std::string_view why) {
        return DnsAnswer{DnsStatus::TemporaryFailure, {}, why};
    };
    if (name.empty() || classNumber != 1 || type < 0) return nothing;
    std::string qname(name);
    if (type == 12) {
        unsigned o[4];
        if (!parseDottedQuad(name, o)) return nothing;
        qname = std::to_string(o[3]) + "." + std::to_string(o[2]) + "." + std::to_string(o[1]) +
                "." + std::to_string(o[0]) + ".in-addr.arpa";
    }
    if (nameServers_.empty()) {
        loadConfig();
        for (const auto& s : config_.nameServers) {
            if (!nameServers_.empty()) nameServers_ += ' ';
            nameServers_ += s;
        }
    }
    std::vector<std::string> servers = splitDnsList(nameServers_);
    DnsServerAddress server;
    if (servers.empty() || !parseDnsServer(servers.front(), server)) return failure(kDnsNoServer);

    unsigned char probe[sizeof(in6_addr)];
    ldns_rdf_type addrType;
    if (inet_pton(AF_INET, server.address.c_str(), probe) == 1)
        addrType = LDNS_RDF_TYPE_A;
    else if (inet_pton(AF_INET6, server.address.c_str(), probe) == 1)
        addrType = LDNS_RDF_TYPE_AAAA;
    else
        return failure(kDnsNoServer);

    std::unique_ptr<ldns_resolver, LdnsResolverFree> res(ldns_resolver_new());
    std::unique_ptr<ldns_rdf, LdnsRdfFree> ns(
        ldns_rdf_new_frm_str(addrType, server.address.c_str()));
    if (!res || !ns || ldns_resolver_push_nameserver(res.get(), ns.get()) != LDNS_STATUS_OK)
        return failure(kDnsNoServer);
    ldns_resolver_set_port(res.get(), static_cast<uint16_t>(server.port));
    ldns_resolver_set_recursive(res.get(), true);
    ldns_resolver_set_defnames(res.get(), false);
    ldns_resolver_set_dnsrch(res.get(), false);
    ldns_resolver_set_retry(res.get(), 2);
    ldns_resolver_set_retrans(res.get(), 1);
    ldns_resolver_set_fallback(res.get(), true);  // TCP when the UDP answer is truncated
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout_.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout_.count() % 1000) * 1000);
    ldns_resolver_set_timeout(res.get(), tv);

    if (qname.back() != '.') qname += '.';
    std::unique_ptr<ldns_rdf, LdnsRdfFree> dname(ldns_dname_new_frm_str(qname.c_str()));
    if (!dname) return nothing;  // not a name DNS can carry: nobody can have records for it
    ldns_pkt* rawQuery = nullptr;
    if (ldns_resolver_prepare_query_pkt(&rawQuery, res.get(), dname.get(),
                                        static_cast<ldns_rr_type>(type), LDNS_RR_CLASS_IN,
                                        LDNS_RD) != LDNS_STATUS_OK)
        return nothing;
    std::unique_ptr<ldns_pkt, LdnsPktFree> queryPkt(rawQuery);
    ldns_pkt* rawAnswer = nullptr;
    ldns_status status = ldns_resolver_send_pkt(&rawAnswer, res.get(), queryPkt.get());
    std::unique_ptr<ldns_pkt, LdnsPktFree> answer(rawAnswer);
    if (status != LDNS_STATUS_OK || !answer) return failure(kDnsNoAnswer);
    if (ldns_pkt_id(answer.get()) != ldns_pkt_id(queryPkt.get())) return failure(kDnsBadAnswer);
    const ldns_rr_list* question = ldns_pkt_question(answer.get());
    if (!question || ldns_rr_list_rr_count(question) != 1) return failure(kDnsBadAnswer);
    const ldns_rr* q = ldns_rr_list_rr(question, 0);
    if (ldns_dname_compare(ldns_rr_owner(q), dname.get()) != 0 ||
        static_cast<int>(ldns_rr_get_type(q)) != type)
        return failure(kDnsBadAnswer);
    // No such name is an answer; any other error code says the server could not find out.
    switch (ldns_pkt_get_rcode(answer.get())) {
        case LDNS_RCODE_NOERROR:
            break;
        case LDNS_RCODE_NXDOMAIN:
            return nothing;
        default:
            return failure(kDnsServerFailure);
    }
    DnsAnswer out;
    out.records = text ? renderTextPacket(answer.get()) : renderPacket(answer.get(), type);
    out.status = out.records.empty() ? DnsStatus::None : DnsStatus::Found;
    if (fields) *fields = recordFields(answer.get(), type);
    return out;
}

MxRecords DnsResolver::lookupMxRecords(std::string_view name) {
    std::vector<std::vector<std::string>> fields;
    DnsAnswer answer = queryOne(name, 1, 15, &fields);
    MxRecords out;
    if (answer.status == DnsStatus::TemporaryFailure) {
        out.status = answer.status;
        out.error = answer.error;
        return out;
    }
    for (auto& f : fields) {
        if (f.size() != 2) continue;
        MxRecord r;
        r.preference = std::atoi(f[0].c_str());
        r.exchange = std::move(f[1]);
        if (r.exchange.size() > 1 && r.exchange.back() == '.') r.exchange.pop_back();
        out.records.push_back(std::move(r));
    }
    out.status = out.records.empty() ? DnsStatus::None : DnsStatus::Found;
    return out;
}

DnsAnswer DnsResolver::lookupAddresses(std::string_view name) {
    DnsAnswer out;
    for (int type : {1, 28}) {
        std::vector<std::vector<std::string>> fields;
        DnsAnswer one = queryOne(name, 1, type, &fields);
        if (one.status == DnsStatus::TemporaryFailure && out.error.empty()) out.error = one.error;
        for (auto& f : fields)
            if (f.size() == 1) out.records.push_back(std::move(f[0]));
    }
    if (!out.records.empty()) {
        out.status = DnsStatus::Found;
        out.error = {};
    } else if (!out.error.empty()) {
        out.status = DnsStatus::TemporaryFailure;
    }
    return out;
}

MxHost selectMxHost(DnsResolver& resolver, std::string_view address) {
    std::size_t at = address.rfind('@');
    std::string domain(at == std::string_view::npos ? address : address.substr(at + 1));
    DnsAnswer hosts = resolver.lookupMx(domain);
    // Connecting to the root name would only fail later, and in a way that hides why.
    for (const auto& h : hosts.records)
        if (h == ".") return {DnsStatus::None, {}, {}, true};
    if (hosts.status == DnsStatus::None) hosts = resolver.lookupMx("");
    switch (hosts.status) {
        case DnsStatus::Found:
            return {DnsStatus::Found, hosts.records.front(), {}};
        case DnsStatus::TemporaryFailure:
            return {DnsStatus::TemporaryFailure, {}, hosts.error};
        case DnsStatus::None:
            break;
    }
    return {DnsStatus::None, domain, {}};
}

}  // namespace qm
