#include "delivery/mx_route.h"

#include <algorithm>

#include "common/text.h"

namespace qm {

namespace {

std::string domainPart(std::string_view address) {
    std::size_t at = address.rfind('@');
    return std::string(at == std::string_view::npos ? address : address.substr(at + 1));
}

// One candidate per address the DNS server knows for `name`, else the name itself.
void addExchanger(DnsResolver& resolver, const std::string& name, std::vector<MxCandidate>& out) {
    DnsAnswer addresses = resolver.lookupAddresses(name);
    if (addresses.status != DnsStatus::Found) {
        if (out.size() < kMaxMxCandidates) out.push_back({name, {}});
        return;
    }
    for (auto& a : addresses.records)
        if (out.size() < kMaxMxCandidates) out.push_back({name, std::move(a)});
}

}  // namespace

std::vector<MxRecord> sortByPreference(std::vector<MxRecord> records) {
    std::stable_sort(records.begin(), records.end(), [](const MxRecord& a, const MxRecord& b) {
        return a.preference < b.preference;
    });
    return records;
}

MxRoute resolveMxRoute(DnsResolver& resolver, std::string_view address, MxOrder order) {
    MxRoute route;
    route.domain = domainPart(address);
    if (order == MxOrder::AsAnswered) {
        MxHost mx = selectMxHost(resolver, address);
        if (mx.nullMx)
            route.status = MxRoute::NullMx;
        else if (mx.status == DnsStatus::TemporaryFailure)
            route.status = MxRoute::LookupFailed, route.error = mx.error;
        else
            addExchanger(resolver, mx.host, route.candidates);
        return route;
    }

    MxRecords mx = resolver.lookupMxRecords(route.domain);
    if (mx.status == DnsStatus::TemporaryFailure) {
        route.status = MxRoute::LookupFailed;
        route.error = mx.error;
        return route;
    }
    for (const auto& r : mx.records) {
        if (r.exchange == ".") {
            route.status = MxRoute::NullMx;
            return route;
        }
    }
    if (mx.records.empty()) {
        // RFC 5321 5.1: no MX at all makes the domain its own exchanger.
        addExchanger(resolver, route.domain, route.candidates);
        return route;
    }
    for (const auto& r : sortByPreference(std::move(mx.records)))
        if (route.candidates.size() < kMaxMxCandidates)
            addExchanger(resolver, r.exchange, route.candidates);
    return route;
}

MxRouteCache::MxRouteCache(MxOrder order, std::string nameServers,
                           std::chrono::milliseconds failureHold)
    : order_(order), nameServers_(std::move(nameServers)), failureHold_(failureHold) {}

MxRoute MxRouteCache::lookUp(std::string_view address) const {
    DnsResolver resolver;
    if (!nameServers_.empty()) resolver.setNameServers(nameServers_);
    return resolveMxRoute(resolver, address, order_);
}

MxRoute MxRouteCache::route(std::string_view address) {
    std::string domain = lowerAscii(domainPart(address));
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard guard(lock_);
        auto it = entries_.find(domain);
        if (it != entries_.end()) {
            entry = it->second;
        } else if (entries_.size() < kMaxCachedDomains) {
            entry = std::make_shared<Entry>();
            entries_.emplace(domain, entry);
        }
    }
    if (!entry) return lookUp(address);
    // The lookup runs outside the map's lock: other domains need not wait for this one.
    std::lock_guard guard(entry->lock);
    if (!entry->known || (entry->route.status == MxRoute::LookupFailed &&
                          std::chrono::steady_clock::now() - entry->lookedUp >= failureHold_)) {
        entry->route = lookUp(address);
        entry->known = true;
        entry->lookedUp = std::chrono::steady_clock::now();  // the hold runs from the answer
    }
    MxRoute out = entry->route;
    out.domain = domainPart(address);
    return out;
}

std::size_t MxRouteCache::domainsLookedUp() const {
    std::lock_guard guard(lock_);
    return entries_.size();
}

}  // namespace qm
