// A DNS server on 127.0.0.1 (UDP, a port the kernel picks) that answers every question the same
// scripted way: with an error code, with records, with a reply to another question, or not at all.
// For what a real server will not do on demand: fail, stay silent, answer the wrong id.
//
// Entry points: FakeDns(answering(...) or silence()), server() ("127.0.0.1#port" for
// DnsResolver::setNameServers or a resolver configuration), queries().
//
// Failure: a question that cannot be parsed gets no answer.
//
// Limits: one question at a time; replies are built with ldns from the question.
//
// Threads: answers on its own thread until destroyed.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

struct DnsReply {
    bool silent = false;               // never answer
    int rcode = 0;                     // 0 NOERROR, 2 SERVFAIL, 3 NXDOMAIN, 5 REFUSED...
    std::vector<std::string> records;  // answer section, presentation form ("x. 0 IN MX 10 m.")
    bool wrongId = false;              // answer with another id than the question's
};

inline DnsReply answering(int rcode, std::vector<std::string> records = {}, bool wrongId = false) {
    return {false, rcode, std::move(records), wrongId};
}
inline DnsReply silence() {
    return {true, 0, {}, false};
}

class FakeDns {
  public:
    explicit FakeDns(DnsReply reply);
    ~FakeDns();
    FakeDns(const FakeDns&) = delete;
    FakeDns& operator=(const FakeDns&) = delete;

    std::string server() const { return "127.0.0.1#" + std::to_string(port_); }
    int queries() const { return queries_.load(); }

  private:
    void run();

    DnsReply reply_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> done_{false};
    std::atomic<int> queries_{0};
    std::thread thread_;
};

}  // namespace qm::test
