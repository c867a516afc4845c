// A whole run of 10,000 recipients on 15 threads against a server that misbehaves on some
// connections: drops them, goes silent, defers with 4xx, or garbles its reply to a message it
// took. The run must end, account for every recipient exactly once, never hand the server a
// message twice, and no sending thread may wait past its time-outs. The server refuses commands
// out of order as real ones do.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "config/paths.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/send_log_buffer.h"
#include "support/run_support.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What a connection does instead of a normal conversation, chosen by its number. Faults before or
// at the greeting are rare on purpose: a relay run ends when one recipient's four connection
// attempts all fail, and that is not what this run is about.
enum class Fault {
    None,
    DropBeforeGreeting,
    StallAtGreeting,
    DropAtMail,
    DeferMail,  // 451 to every MAIL
    DeferRcpt,  // 450 to every RCPT
    StallAtRcpt,
    DropInData,
    StallAtEndOfData,
    GarbleEndOfData,  // takes the message, then answers "250<TAB>Ok queued"
};

Fault faultOf(long n) {
    if (n % 500 == 101) return Fault::DropBeforeGreeting;
    if (n % 500 == 353) return Fault::StallAtGreeting;
    switch (n % 50) {
        case 3:
            return Fault::DropAtMail;
        case 11:
        case 37:
            return Fault::DeferMail;
        case 19:
        case 43:
            return Fault::DeferRcpt;
        case 23:
            return Fault::StallAtRcpt;
        case 29:
            return Fault::DropInData;
        case 47:
            return Fault::StallAtEndOfData;
        case 31:
            return Fault::GarbleEndOfData;
        default:
            return Fault::None;
    }
}

// A small SMTP server on 127.0.0.1, port 0, serving many connections at once from a fixed pool of
// threads that all accept on the same socket.
class FaultyServer {
  public:
    explicit FaultyServer(int threads) {
        // Non-blocking: every pool thread wakes for a connection only one of them gets.
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listenFd_ < 0 ||
            ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listenFd_, 128) != 0 ||
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("faulty server cannot listen");
        port_ = ntohs(addr.sin_port);
        for (int i = 0; i < threads; ++i) pool_.emplace_back([this] { serve(); });
    }
    ~FaultyServer() {
        done_ = true;
        for (auto& t : pool_) t.join();
        ::close(listenFd_);
    }

    int port() const { return port_; }
    long delivered() const { return delivered_.load(); }
    // Commands a real server refuses as out of order (MAIL inside a transaction...).
    long outOfOrder() const { return outOfOrder_.load(); }
    // Recipients that the server took more than one copy for.
    std::vector<std::string> twice() const {
        std::lock_guard g(m_);
        std::vector<std::string> out;
        for (const auto& [rcpt, n] : copies_)
            if (n > 1) out.push_back(rcpt);
        return out;
    }
    std::map<Fault, long> faults() const {
        std::lock_guard g(m_);
        return faults_;
    }
    // The longest time a silent connection waited for its client to give up.
    Clock::duration longestStall() const {
        std::lock_guard g(m_);
        return longestStall_;
    }

  private:
    void serve() {
        while (!done_) {
            pollfd p{listenFd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            Fault f = faultOf(next_++);
            {
                std::lock_guard g(m_);
                ++faults_[f];
            }
            converse(fd, f);
            ::close(fd);
        }
    }

    // One line from the client; false when it went away (or the server is shutting down).
    bool readLine(int fd, std::string& buffer, std::string& line) {
        for (;;) {
            if (auto end = buffer.find("\r\n"); end != std::string::npos) {
                line = buffer.substr(0, end);
                buffer.erase(0, end + 2);
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            int ready = ::poll(&p, 1, 50);
            if (done_) return false;
            if (ready <= 0) continue;
            char chunk[16384];
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffer.append(chunk, static_cast<size_t>(n));
        }
    }
    void say(int fd, std::string_view text) {
        (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    }
    // Says nothing more and reads whatever comes until the client closes.
    void stall(int fd) {
        auto start = Clock::now();
        std::string buffer, line;
        while (readLine(fd, buffer, line)) {
        }
        std::lock_guard g(m_);
        longestStall_ = std::max(longestStall_, Clock::now() - start);
    }

    void converse(int fd, Fault f) {
        if (f == Fault::DropBeforeGreeting) return;
        if (f == Fault::StallAtGreeting) return stall(fd);
        say(fd, "220 faulty.test ESMTP\r\n");
        std::string buffer, line, rcpt;
        bool inTransaction = false, inData = false;
        while (readLine(fd, buffer, line)) {
            if (inData) {
                if (line == ".") {
                    inData = false;
                    inTransaction = false;
                    if (f == Fault::StallAtEndOfData) return stall(fd);
                    ++delivered_;
                    {
                        std::lock_guard g(m_);
                        ++copies_[rcpt];
                    }
                    say(fd,
                        f == Fault::GarbleEndOfData ? "250\tOk queued\r\n" : "250 2.0.0 Ok\r\n");
                } else if (f == Fault::DropInData) {
                    return;
                }
                continue;
            }
            std::string verb = line.substr(0, 4);
            if (verb == "HELO" || verb == "EHLO" || verb == "RSET") {
                inTransaction = false;
                say(fd, verb == "RSET" ? "250 2.0.0 Ok\r\n" : "250 faulty.test\r\n");
            } else if (verb == "MAIL") {
                if (f == Fault::DropAtMail) return;
                if (inTransaction) {
                    ++outOfOrder_;
                    say(fd, "503 5.5.1 Error: nested MAIL command\r\n");
                } else if (f == Fault::DeferMail) {
                    say(fd, "451 4.3.0 Try again later\r\n");
                } else {
                    inTransaction = true;
                    say(fd, "250 2.1.0 Ok\r\n");
                }
            } else if (verb == "RCPT") {
                if (!inTransaction) {
                    ++outOfOrder_;
                    say(fd, "503 5.5.1 Error: need MAIL command\r\n");
                    continue;
                }
                if (f == Fault::StallAtRcpt) return stall(fd);
                rcpt = line.substr(4);
                say(fd, f == Fault::DeferRcpt ? "450 4.2.1 Mailbox busy\r\n" : "250 2.1.5 Ok\r\n");
            } else if (verb == "DATA") {
                if (!inTransaction || f == Fault::DeferRcpt) {
                    ++outOfOrder_;
                    say(fd, "554 5.5.1 Error: no valid recipients\r\n");
                    continue;
                }
                inData = true;
                say(fd, "354 Go ahead\r\n");
            } else if (verb == "QUIT") {
                say(fd, "221 Bye\r\n");
                return;
            } else {
                say(fd, "502 5.5.2 Unknown command\r\n");
            }
        }
    }

    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> done_{false};
    std::atomic<long> next_{0};
    std::atomic<long> delivered_{0};
    std::atomic<long> outOfOrder_{0};
    mutable std::mutex m_;
    std::map<Fault, long> faults_;
    std::map<std::string, int> copies_;  // by RCPT argument
    Clock::duration longestStall_{};
    std::vector<std::thread> pool_;
};

class Collector : public test::RunEndings {
  public:
    void result(const SendResult& r) override {
        std::lock_guard g(m_);
        ++results[r.address];
        (r.sent ? sent : failed)++;
        if (r.text.find("may have been delivered") != std::string::npos) ++uncertain;
    }

    std::map<std::string, int> results;
    long sent = 0, failed = 0, uncertain = 0;
};

TEST(FaultRunTest, TenThousandRecipientsAgainstDropsStallsAndDeferralsEachAccountedOnce) {
    constexpr int kRecipients = 10000;
    constexpr int kThreads = 15;
    constexpr auto kTimeout = 200ms;

    test::TempDir dir;
    Paths paths{dir.file("qm")};
    ASSERT_TRUE(paths.ensureFolders());
    std::string members;
    for (int i = 0; i < kRecipients; ++i)
        members += "r" + std::to_string(i) + "@x.test,,,,,,,,,,,,,E\r\n";
    dir.write("qm/GroupRecipients/_Faults.sbz", members);

    FaultyServer server(kThreads + 5);
    RunRequest r = test::plainRunRequest(server.port(), {}, {"Faults"});
    r.delivery.threadCount = kThreads;
    r.timeouts = SmtpTimeouts::uniform(kTimeout);

    SendLogBuffer log;
    Collector rec;
    auto start = Clock::now();
    {
        CampaignRun run(paths, log, rec);
        ASSERT_TRUE(run.start(std::move(r)));
        run.wait();
    }
    auto took = Clock::now() - start;

    ASSERT_EQ(rec.endings, std::vector<std::string>{"finished"});
    EXPECT_EQ(rec.sent + rec.failed, kRecipients);
    EXPECT_EQ(rec.summary.sent + rec.summary.failed, static_cast<std::size_t>(kRecipients));
    EXPECT_EQ(rec.summary.sent, static_cast<std::size_t>(rec.sent));
    ASSERT_EQ(rec.results.size(), static_cast<std::size_t>(kRecipients));
    for (const auto& [address, count] : rec.results)
        ASSERT_EQ(count, 1) << address << " has more than one result";
    // "Sent" only for a message the server took: every fault strikes before its 250. (A reply
    // that arrives after the client's time-out on a busy machine, and a garbled one, make
    // `delivered` larger.)
    EXPECT_LE(static_cast<long>(rec.summary.sent), server.delivered());
    EXPECT_EQ(server.twice(), std::vector<std::string>{}) << "a message was delivered twice";
    EXPECT_EQ(server.outOfOrder(), 0) << "MAIL inside a transaction, or RCPT or DATA without one";

    std::map<std::string, int> reported;
    for (const auto& row : readReportRows(paths, "Faults")) ++reported[row.address];
    ASSERT_EQ(reported.size(), static_cast<std::size_t>(kRecipients));
    for (const auto& [address, count] : reported) ASSERT_EQ(count, 1) << address;
    for (int i = 0; i < kRecipients; i += 997)
        EXPECT_EQ(reported.count("r" + std::to_string(i) + "@x.test"), 1u);

    auto faults = server.faults();
    long stalls = faults[Fault::StallAtGreeting] + faults[Fault::StallAtRcpt] +
                  faults[Fault::StallAtEndOfData];
    long deferrals = faults[Fault::DeferMail] + faults[Fault::DeferRcpt];
    EXPECT_GT(stalls, 0);
    EXPECT_GT(deferrals, 0);
    EXPECT_GT(faults[Fault::DropBeforeGreeting], 0);
    EXPECT_GT(faults[Fault::GarbleEndOfData], 0);
    // Every fault after the greeting costs its recipient the mail (deferrals repeat on each of the
    // four tries, after RSET on the same connection); faults at connection time are retried on a
    // new connection and cost nothing. A garbled reply to a message the server took is a failure
    // that says the message may have been delivered.
    long afterGreeting = deferrals + faults[Fault::DropAtMail] + faults[Fault::StallAtRcpt] +
                         faults[Fault::DropInData] + faults[Fault::StallAtEndOfData] +
                         faults[Fault::GarbleEndOfData];
    EXPECT_GE(rec.failed, afterGreeting);
    EXPECT_LT(rec.failed, afterGreeting + kRecipients / 100)
        << "failures with no fault behind them";
    EXPECT_GE(rec.uncertain, faults[Fault::StallAtEndOfData] + faults[Fault::GarbleEndOfData]);

    // A silent server holds a thread for one stage's time-out, not more: the client gives up and
    // closes. Loose, for busy machines.
    EXPECT_LT(server.longestStall(), 50 * kTimeout);
    // The whole run: the stalls spread over the threads, each one time-out, plus a generous
    // allowance for the plain work of 10,000 conversations.
    auto bound = 4 * stalls * kTimeout / kThreads + 60s;
    EXPECT_LT(took, bound) << "stalls " << stalls;
}

}  // namespace
}  // namespace qm
