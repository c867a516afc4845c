// A scripted relay with a sending quota, shared by the tests of the sending pace.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qm::test {

// A relay with a quota, as strict as a real one: MAIL inside a transaction gets 503, RCPT or DATA
// without MAIL gets 503. After every `quota` messages taken it turns every MAIL away with a split
// "421 4.7.0" and closes, for `coolDown`, and always the first MAIL after the quota, however late
// it comes: a slow machine cannot slip past the refusal a test counts on. Connections are served
// one at a time.
class QuotaRelay {
  public:
    QuotaRelay(int quota, std::chrono::milliseconds coolDown) : quota_(quota), coolDown_(coolDown) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 64) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("listen");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~QuotaRelay() {
        stop();
        ::close(fd_);
    }
    int port() const { return port_; }
    // Ends the server's thread; read the results after it.
    void stop() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
    }

    std::vector<std::string> delivered;  // one RCPT address per message taken
    int refusals = 0;
    std::string protocolErrors;  // what a real server would have refused

  private:
    void serve() {
        while (!done_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            session(c);
            ::close(c);
        }
    }
    void say(int c, std::string_view text) {
        (void)!::send(c, text.data(), text.size(), MSG_NOSIGNAL);
    }
    // The next line, or false at close or after 5 s of silence.
    bool line(int c, std::string& buf, std::string& out) {
        for (;;) {
            if (auto lf = buf.find("\r\n"); lf != std::string::npos) {
                out = buf.substr(0, lf);
                buf.erase(0, lf + 2);
                return true;
            }
            pollfd p{c, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) return false;
            char tmp[8192];
            long n = ::recv(c, tmp, sizeof tmp, 0);
            if (n <= 0) return false;
            buf.append(tmp, static_cast<std::size_t>(n));
        }
    }
    void session(int c) {
        say(c, "220 quota.test ESMTP\r\n");
        std::string buf, l, rcpt;
        bool inMail = false;
        while (line(c, buf, l)) {
            std::string verb = l.substr(0, 4);
            if (verb == "HELO" || verb == "EHLO") {
                say(c, "250 quota.test\r\n");
            } else if (verb == "MAIL") {
                if (inMail) {
                    protocolErrors += "nested MAIL;";
                    say(c, "503 5.5.1 Error: nested MAIL command\r\n");
                } else if (owed_ || std::chrono::steady_clock::now() < coolUntil_) {
                    owed_ = false;
                    ++refusals;
                    say(c, "421 4.7.0 quota.test Too many messages, ");
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    say(c, "try again later\r\n");
                    return;
                } else {
                    inMail = true;
                    rcpt.clear();
                    say(c, "250 2.1.0 Ok\r\n");
                }
            } else if (verb == "RCPT") {
                if (!inMail) protocolErrors += "RCPT without MAIL;";
                rcpt = l.substr(l.find('<') + 1);
                rcpt.pop_back();
                say(c, inMail ? "250 2.1.5 Ok\r\n" : "503 5.5.1 Error: need MAIL command\r\n");
            } else if (verb == "DATA") {
                if (!inMail || rcpt.empty()) {
                    protocolErrors += "DATA without RCPT;";
                    say(c, "503 5.5.1 Error: need RCPT command\r\n");
                    continue;
                }
                say(c, "354 End data with <CR><LF>.<CR><LF>\r\n");
                while (line(c, buf, l) && l != ".") {
                }
                inMail = false;
                delivered.push_back(rcpt);
                if (delivered.size() % static_cast<std::size_t>(quota_) == 0) {
                    coolUntil_ = std::chrono::steady_clock::now() + coolDown_;
                    owed_ = true;
                }
                say(c, "250 2.0.0 Ok: queued\r\n");
            } else if (verb == "RSET") {
                inMail = false;
                say(c, "250 2.0.0 Ok\r\n");
            } else if (verb == "QUIT") {
                say(c, "221 2.0.0 Bye\r\n");
                return;
            } else {
                say(c, "502 5.5.2 Error: command not recognized\r\n");
            }
        }
    }

    int quota_;
    std::chrono::milliseconds coolDown_;
    std::chrono::steady_clock::time_point coolUntil_{};
    bool owed_ = false;  // the refusal due for the quota just reached
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace qm::test
