// MxRoute: where MX delivery connects for one recipient's domain, in the order to try, and the
// run-scoped cache that asks DNS once per domain.
//
// Two orders (MxOrder). As answered: the one host selectMxHost() picks (the first MX record as the
// server sent it, else the search domains' first, else the domain itself), with its addresses
// asked of the same DNS server as in the other order (a run's lookups all go to the configured
// server, QUILLMARK_RESOLV_CONF or the settings). By preference (RFC 5321 section 5.1): the
// domain's MX records sorted by preference, lowest first; records of equal preference keep the
// order the DNS server sent them in (no shuffle, so a run is repeatable and a test can state the
// order); each exchanger's IPv4 then IPv6 addresses from the same DNS server, one candidate per
// address; an exchanger without address records is handed to the system resolver by name. A domain
// without MX records is its own exchanger (its A/AAAA records), and the search domains are not
// consulted. In both orders a null MX (a record whose exchange is the root, RFC 7505) ends the
// route with NullMx: nothing is connected.
//
// Entry points: resolveMxRoute(resolver, address, order); MxRouteCache::route(address) for a run;
// sortByPreference() for the command line's listing.
//
// Failure: the route's status. LookupFailed carries the resolver's fixed text and no candidate:
// a DNS server that cannot answer now is not a domain without exchangers.
//
// Limits: at most kMaxMxCandidates candidates (Postfix stops at 5 addresses; each dead one may
// cost a connect time-out). The cache keeps at most kMaxCachedDomains domains; later domains are
// looked up for each recipient. A failed lookup is held for kFailedLookupHold: a DNS server that
// cannot answer would otherwise be asked, and waited for, once for every recipient of the domain;
// after the hold the domain's next recipient asks again, so one passing failure at the start of a
// long run does not fail every later recipient of the domain.
//
// Threads: resolveMxRoute() on the caller's thread with its own resolver. MxRouteCache is shared
// by all sending threads of a run; a domain asked for by two threads at once is looked up once,
// the second waits for the first.
//
// Standard: RFC 5321 section 5.1, RFC 7505 (null MX).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "delivery/delivery_settings.h"
#include "delivery/dns_resolver.h"

namespace qm {

inline constexpr std::size_t kMaxMxCandidates = 10;
inline constexpr std::size_t kMaxCachedDomains = 50000;
// How long a failed lookup stands for the domain's later recipients (RFC 2308 section 7.1 caps
// a resolver's hold of a server failure at five minutes).
inline constexpr std::chrono::seconds kFailedLookupHold{60};

struct MxCandidate {
    std::string exchanger;  // the name the failure texts and the log use
    std::string address;    // where to connect; empty: the exchanger's name, resolved by the system
    const std::string& target() const { return address.empty() ? exchanger : address; }
};

struct MxRoute {
    enum Status { Ready, NullMx, LookupFailed };
    Status status = Ready;
    std::string domain;
    std::vector<MxCandidate> candidates;  // Ready: at least one, in the order to try
    std::string_view error;               // LookupFailed: why
};

// The text a recipient of a null-MX domain fails with (after "Connection fail DOMAIN: ").
inline constexpr std::string_view kNullMxText =
    "the domain accepts no mail (null MX record), nothing was sent";

// Stable: equal preferences keep their order.
std::vector<MxRecord> sortByPreference(std::vector<MxRecord> records);

MxRoute resolveMxRoute(DnsResolver& resolver, std::string_view address, MxOrder order);

class MxRouteCache {
  public:
    // `nameServers` replaces the configured DNS servers (tests); empty keeps them.
    explicit MxRouteCache(MxOrder order, std::string nameServers = {},
                          std::chrono::milliseconds failureHold = kFailedLookupHold);

    MxRoute route(std::string_view address);
    // Domains looked up so far (each once).
    std::size_t domainsLookedUp() const;

  private:
    struct Entry {
        std::mutex lock;  // held through the lookup: a second thread waits for the first's answer
        bool known = false;
        MxRoute route;
        std::chrono::steady_clock::time_point lookedUp;
    };
    MxRoute lookUp(std::string_view address) const;

    const MxOrder order_;
    const std::string nameServers_;
    const std::chrono::milliseconds failureHold_;
    mutable std::mutex lock_;
    std::unordered_map<std::string, std::shared_ptr<Entry>> entries_;
};

}  // namespace qm
