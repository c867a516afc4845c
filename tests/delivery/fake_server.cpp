#include "fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string_view>

namespace qm::test {

namespace {

// Reads what is there within `ms`; 0 on close or time-out, -1 on error.
long readSome(int fd, char* buf, size_t size, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return 0;
    return ::recv(fd, buf, size, 0);
}

std::string upperVerb(std::string_view line) {
    std::string verb(line.substr(0, 4));
    for (char& c : verb)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return verb;
}

}  // namespace

std::string SmtpStateTracker::clientBytes(std::string_view bytes) {
    std::string refusal;
    line_.append(bytes);
    std::size_t lf;
    while ((lf = line_.find('\n')) != std::string::npos) {
        std::string line = line_.substr(0, lf + 1);
        line_.erase(0, lf + 1);
        if (inData_) {
            if (line == ".\r\n" || line == ".\n") {
                inData_ = false;
                pending_ = Pending::EndOfData;
            }
            continue;
        }
        const std::string verb = upperVerb(line);
        pending_ = Pending::Other;
        if (verb == "MAIL") {
            if (inTransaction_) {
                refusal = "503 5.5.1 Error: nested MAIL command\r\n";
                continue;
            }
            pending_ = Pending::Mail;
        } else if (verb == "RCPT" || verb == "DATA") {
            if (!inTransaction_) {
                refusal = "503 5.5.1 Error: need MAIL command\r\n";
                continue;
            }
            if (verb == "DATA" && !haveRecipient_) {
                refusal = "554 5.5.1 Error: no valid recipients\r\n";
                continue;
            }
            pending_ = verb == "RCPT" ? Pending::Rcpt : Pending::Data;
        } else if (verb == "RSET" || verb == "HELO" || verb == "EHLO") {
            inTransaction_ = haveRecipient_ = false;
        }
    }
    return refusal;
}

void SmtpStateTracker::serverReply(std::string_view reply) {
    // The first digit decides; a reply split over several sends is judged by its first piece.
    const char digit = reply.empty() ? '\0' : reply.front();
    switch (pending_) {
        case Pending::Mail:
            inTransaction_ = digit == '2';
            break;
        case Pending::Rcpt:
            haveRecipient_ = haveRecipient_ || digit == '2';
            break;
        case Pending::Data:
            inData_ = digit == '3';
            break;
        case Pending::EndOfData:
            // Whatever the answer, the transaction is over.
            inTransaction_ = haveRecipient_ = false;
            break;
        case Pending::None:
        case Pending::Other:
            break;
    }
    pending_ = Pending::None;
}

FakeServer::FakeServer(std::vector<ServerStep> script) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("fake server cannot listen");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

FakeServer::~FakeServer() {
    finish();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void FakeServer::finish() {
    if (thread_.joinable()) thread_.join();
}

int FakeServer::acceptOne() {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) {
        mismatch_ = "no client came";
        return -1;
    }
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) mismatch_ = "accept failed";
    return fd;
}

void FakeServer::run() {
    int fd = acceptOne();
    if (fd < 0) return;
    char buf[4096];
    for (const auto& step : script_) {
        if (step.kind == ServerStep::Accept) {
            ::close(fd);
            state_ = SmtpStateTracker{};
            fd = acceptOne();
            if (fd < 0) return;
        } else if (step.kind == ServerStep::Send) {
            state_.serverReply(step.text);
            ::send(fd, step.text.data(), step.text.size(), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else if (step.kind == ServerStep::Expect) {
            std::string got;
            while (got.size() < step.text.size()) {
                long n =
                    readSome(fd, buf, std::min(sizeof buf, step.text.size() - got.size()), 5000);
                if (n <= 0) break;
                got.append(buf, static_cast<size_t>(n));
            }
            // On to the end of the client's line, so an unexpected command is seen whole.
            while (!got.empty() && got.back() != '\n' && readSome(fd, buf, 1, 500) == 1)
                got += buf[0];
            received_ += got;
            if (std::string refusal = state_.clientBytes(got); !refusal.empty()) {
                ::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL);
                mismatch_ = "out of order: [" + got + "] answered " + refusal;
                break;
            }
            if (got != step.text) {
                mismatch_ = "expected [" + step.text + "] got [" + got + "]";
                break;
            }
        } else if (step.kind == ServerStep::Data) {
            std::string got;
            while (got.find("\r\n.\r\n") == std::string::npos) {
                long n = readSome(fd, buf, 1, 5000);  // one byte: nothing past the end is taken
                if (n <= 0) break;
                got += buf[0];
            }
            received_ += got;
            state_.clientBytes(got);
            if (got.find("\r\n.\r\n") == std::string::npos) {
                mismatch_ = "message without its end-of-data line";
                break;
            }
        } else if (step.kind == ServerStep::Hold) {
            for (;;) {
                long n = readSome(fd, buf, sizeof buf, 10000);
                if (n <= 0) break;
                received_.append(buf, static_cast<size_t>(n));
            }
        } else if (step.kind == ServerStep::Stall) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        } else {
            break;
        }
    }
    // Whatever the client still sends (QUIT after a failure...) is kept for the test to see.
    ::shutdown(fd, SHUT_WR);
    for (;;) {
        long n = readSome(fd, buf, sizeof buf, 2000);
        if (n <= 0) break;
        received_.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
}

}  // namespace qm::test
