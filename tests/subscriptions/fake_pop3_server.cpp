#include "fake_pop3_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace qm::test {

namespace {

long readByte(int fd, char& c, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return 0;
    return ::recv(fd, &c, 1, 0);
}

std::string verbOf(const std::string& line) {
    std::string verb = line.substr(0, line.find_first_of(" \r\n"));
    for (char& c : verb)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return verb;
}

}  // namespace

FakePop3Server::FakePop3Server(std::vector<Pop3Step> script) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("fake POP3 server cannot listen");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

FakePop3Server::~FakePop3Server() {
    finish();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void FakePop3Server::finish() {
    if (thread_.joinable()) thread_.join();
}

std::string FakePop3Server::refusal(const std::string& line) const {
    const std::string verb = verbOf(line);
    if (state_ == State::Quit) return "-ERR session is over\r\n";
    const bool loggedIn = state_ == State::Transaction;
    if ((verb == "STAT" || verb == "RETR" || verb == "LIST" || verb == "DELE") && !loggedIn)
        return "-ERR Unknown command.\r\n";
    if (verb == "PASS" && state_ != State::UserGiven) return "-ERR No username given.\r\n";
    if ((verb == "USER" || verb == "STLS") && loggedIn) return "-ERR Unknown command.\r\n";
    return {};
}

void FakePop3Server::answered(const std::string& line, const std::string& reply) {
    const bool ok = reply.rfind("-ERR", 0) != 0;
    const std::string verb = verbOf(line);
    if (verb == "USER")
        state_ = ok ? State::UserGiven : State::Authorization;
    else if (verb == "PASS")
        state_ = ok ? State::Transaction : State::Authorization;
    else if (verb == "QUIT")
        state_ = State::Quit;
}

void FakePop3Server::run() {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) {
        mismatch_ = "no client came";
        return;
    }
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) {
        mismatch_ = "accept failed";
        return;
    }
    bool replied = true;  // the last client line has had the first piece of its answer
    for (const auto& step : script_) {
        if (step.kind == Pop3Step::Send) {
            if (!replied) answered(lastCommand_, step.text);
            replied = true;
            ::send(fd, step.text.data(), step.text.size(), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else if (step.kind == Pop3Step::Expect) {
            std::string got;
            char c;
            while (readByte(fd, c, 5000) == 1) {
                got += c;
                if (c == '\n') break;
            }
            received_ += got;
            if (std::string no = refusal(got); !no.empty()) {
                ::send(fd, no.data(), no.size(), MSG_NOSIGNAL);
                mismatch_ = "out of order: [" + got + "] answered " + no;
                break;
            }
            if (got != step.text) {
                mismatch_ = "expected [" + step.text + "] got [" + got + "]";
                break;
            }
            lastCommand_ = got;
            replied = false;
        } else if (step.kind == Pop3Step::Hold) {
            char buf[512];
            for (;;) {
                pollfd q{fd, POLLIN, 0};
                if (::poll(&q, 1, 10000) <= 0) break;
                long n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                received_.append(buf, static_cast<size_t>(n));
            }
        } else {
            break;
        }
    }
    ::shutdown(fd, SHUT_WR);
    char c;
    while (readByte(fd, c, 2000) == 1) received_ += c;
    ::close(fd);
}

}  // namespace qm::test
