#include "fake_dns.h"

#include <arpa/inet.h>
#include <ldns/ldns.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace qm::test {

FakeDns::FakeDns(DnsReply reply) : reply_(std::move(reply)) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("fake DNS server cannot bind");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

FakeDns::~FakeDns() {
    done_ = true;
    thread_.join();
    ::close(fd_);
}

void FakeDns::run() {
    unsigned char buf[4096];
    while (!done_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t n =
            ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n <= 0) continue;
        ++queries_;
        ldns_pkt* question = nullptr;
        if (reply_.silent ||
            ldns_wire2pkt(&question, buf, static_cast<size_t>(n)) != LDNS_STATUS_OK)
            continue;
        ldns_pkt* answer = ldns_pkt_new();
        ldns_pkt_set_id(answer,
                        static_cast<uint16_t>(ldns_pkt_id(question) ^ (reply_.wrongId ? 1 : 0)));
        ldns_pkt_set_qr(answer, true);
        ldns_pkt_set_rd(answer, ldns_pkt_rd(question));
        ldns_pkt_set_ra(answer, true);
        ldns_pkt_set_rcode(answer, static_cast<uint8_t>(reply_.rcode));
        const ldns_rr_list* q = ldns_pkt_question(question);
        for (size_t i = 0; q && i < ldns_rr_list_rr_count(q); ++i)
            ldns_pkt_push_rr(answer, LDNS_SECTION_QUESTION, ldns_rr_clone(ldns_rr_list_rr(q, i)));
        for (const auto& text : reply_.records) {
            ldns_rr* rr = nullptr;
            if (ldns_rr_new_frm_str(&rr, text.c_str(), 0, nullptr, nullptr) == LDNS_STATUS_OK)
                ldns_pkt_push_rr(answer, LDNS_SECTION_ANSWER, rr);
        }
        uint8_t* wire = nullptr;
        size_t size = 0;
        if (ldns_pkt2wire(&wire, answer, &size) == LDNS_STATUS_OK)
            ::sendto(fd_, wire, size, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
        std::free(wire);
        ldns_pkt_free(answer);
        ldns_pkt_free(question);
    }
}

}  // namespace qm::test
