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
                waiting_.push_back(Pending::EndOfData);
            }
            continue;
        }
        const std::string verb = upperVerb(line);
        Pending command = Pending::Other;
        if (verb == "MAIL") command = Pending::Mail;
        if (verb == "RCPT") command = Pending::Rcpt;
        if (verb == "DATA") command = Pending::Data;
        if (verb == "RSET" || verb == "HELO" || verb == "EHLO") command = Pending::Reset;
        if (waiting_.empty()) {
            // Lock-step: judged at once, and a refused command changes nothing.
            if (std::string r = judge(command); !r.empty()) {
                refusal = r;
                continue;
            }
        }
        waiting_.push_back(command);
    }
    return refusal;
}

std::string SmtpStateTracker::judge(Pending command) const {
    if (command == Pending::Mail && inTransaction_)
        return "503 5.5.1 Error: nested MAIL command\r\n";
    if ((command == Pending::Rcpt || command == Pending::Data) && !inTransaction_)
        return "503 5.5.1 Error: need MAIL command\r\n";
    if (command == Pending::Data && !haveRecipient_)
        return "554 5.5.1 Error: no valid recipients\r\n";
    return {};
}

void SmtpStateTracker::settle(Pending command, char digit) {
    // Older servers answer 354 to a DATA with no recipient; RFC 2920 section 3.1 has clients
    // cope with it, so a script may play such a server.
    if (command == Pending::Data && inTransaction_ && !haveRecipient_ && digit == '3') {
        inData_ = true;
        return;
    }
    if (!judge(command).empty()) {
        // Out of order: only a refusal is right, and a refusal changes nothing.
        if (digit != '5' && violation_.empty())
            violation_ = "the script accepted a command a real server refuses: " + judge(command);
        return;
    }
    switch (command) {
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
        case Pending::Reset:
            // Whatever the answer, the transaction is over.
            inTransaction_ = haveRecipient_ = false;
            break;
        case Pending::Other:
            break;
    }
}

void SmtpStateTracker::serverReply(std::string_view bytes) {
    reply_.append(bytes);
    std::size_t lf;
    while ((lf = reply_.find('\n')) != std::string::npos) {
        std::string line = reply_.substr(0, lf);
        reply_.erase(0, lf + 1);
        if (line.size() >= 4 && line[3] == '-') continue;  // a continuation line
        if (waiting_.empty()) continue;                    // the greeting, or a reply to nothing
        Pending command = waiting_.front();
        waiting_.erase(waiting_.begin());
        settle(command, line.empty() ? '\0' : line.front());
    }
}

FakeServer::FakeServer(std::vector<ServerStep> script)
    : FakeServer([&script](int) { return std::move(script); }) {}

FakeServer::FakeServer(const std::function<std::vector<ServerStep>(int port)>& makeScript) {
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
    script_ = makeScript(port_);
    thread_ = std::thread([this] { run(); });
}

FakeServer::~FakeServer() {
    finish();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void FakeServer::finish() {
    if (thread_.joinable()) thread_.join();
}

int FakeServer::acceptClient() {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) {
        mismatch_ = "no client came";
        return -1;
    }
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) {
        mismatch_ = "accept failed";
        return -1;
    }
    ++connections_;
    state_ = SmtpStateTracker{};
    return fd;
}

void FakeServer::endClient(int fd) {
    // Whatever the client still sends (QUIT after a failure...) is kept for the test to see.
    char buf[4096];
    ::shutdown(fd, SHUT_WR);
    for (;;) {
        long n = readSome(fd, buf, sizeof buf, 2000);
        if (n <= 0) break;
        received_.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
}

void FakeServer::run() {
    int fd = acceptClient();
    if (fd < 0) return;
    char buf[4096];
    for (const auto& step : script_) {
        if (step.kind == ServerStep::Accept) {
            endClient(fd);
            received_ += "<next connection>";
            fd = acceptClient();
            if (fd < 0) return;
        } else if (step.kind == ServerStep::Send) {
            state_.serverReply(step.text);
            if (!state_.violation().empty()) {
                mismatch_ = state_.violation();
                break;
            }
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
            // Only the tail is looked at: searching the whole message after every byte made a
            // 100 kB message slow enough under the sanitizers for the client to time out.
            const std::string_view end = "\r\n.\r\n";
            std::string got;
            auto ended = [&] { return got.size() >= end.size() && got.ends_with(end); };
            while (!ended()) {
                long n = readSome(fd, buf, 1, 5000);  // one byte: nothing past the end is taken
                if (n <= 0) break;
                got += buf[0];
            }
            received_ += got;
            state_.clientBytes(got);
            if (!ended()) {
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
            std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        } else {
            break;
        }
    }
    endClient(fd);
}

}  // namespace qm::test
