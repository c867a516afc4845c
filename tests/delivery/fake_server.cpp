#include "fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace qm::test {

namespace {

// Reads what is there within `ms`; 0 on close or time-out, -1 on error.
long readSome(int fd, char* buf, size_t size, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return 0;
    return ::recv(fd, buf, size, 0);
}

}  // namespace

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

void FakeServer::run() {
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
    char buf[4096];
    for (const auto& step : script_) {
        if (step.kind == ServerStep::Send) {
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
            received_ += got;
            if (got != step.text) {
                mismatch_ = "expected [" + step.text + "] got [" + got + "]";
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
