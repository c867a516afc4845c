#include "common/tcp_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <csignal>
#include <cstring>
#include <mutex>

namespace qm {

namespace {

using Clock = std::chrono::steady_clock;

int millisLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return 0;
    return left.count() > 0x7fffffff ? 0x7fffffff : static_cast<int>(left.count());
}

// How often a waiting stream looks at its interrupt flag: the longest a Stop waits for a thread
// that sits in a network wait.
constexpr int kInterruptCheckMillis = 100;

// Waits for `events` on fd until the deadline. 1 ready, 0 timed out, -1 error (errno set;
// ECANCELED when `interrupted` was raised).
int pollUntil(int fd, short events, Clock::time_point deadline,
              const std::atomic<bool>& interrupted) {
    for (;;) {
        if (interrupted.load()) {
            errno = ECANCELED;
            return -1;
        }
        int left = millisLeft(deadline);
        int slice = left < kInterruptCheckMillis ? left : kInterruptCheckMillis;
        pollfd p{fd, events, 0};
        int rc = ::poll(&p, 1, slice);
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return -1;
        if (rc > 0) return 1;
        if (left <= kInterruptCheckMillis) return 0;
    }
}

// A peer that closes while we write must not kill the process: writes report EPIPE instead.
// OpenSSL writes with write(2), which has no MSG_NOSIGNAL, hence the process-wide setting.
void ignoreSigpipeOnce() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

std::string opensslErrorText() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown error";
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    // "error:0A000086:SSL routines::certificate verify failed" -> keep the last part only.
    const char* last = std::strrchr(buf, ':');
    return last && last[1] ? std::string(last + 1) : std::string(buf);
}

// The shared context trusts the system store; loaded once, used by every thread.
SSL_CTX* systemContext() {
    static SSL_CTX* ctx = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        if (c) SSL_CTX_set_default_verify_paths(c);
        return c;
    }();
    return ctx;
}

bool isIpLiteral(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

TcpStream::~TcpStream() {
    close();
}

StreamResult TcpStream::fail(StreamResult result, std::string text) {
    error_ = std::move(text);
    return result;
}

void TcpStream::close() {
    if (ssl_) {
        // No close_notify exchange: the protocol's own QUIT has ended the session, and waiting
        // for the peer here could stall.
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void TcpStream::interrupt() {
    interrupted_ = true;
}

StreamResult TcpStream::connect(const std::string& host, int port, Millis timeout) {
    ignoreSigpipeOnce();
    close();
    if (interrupted_.load()) return fail(StreamResult::Failed, "interrupted");
    if (host.empty()) return fail(StreamResult::Failed, "no host name");
    if (port <= 0 || port > 65535) return fail(StreamResult::Failed, "port out of range");
    auto deadline = Clock::now() + timeout;

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    // An address literal needs no lookup; AI_ADDRCONFIG alone would ask the kernel for the
    // machine's addresses on every connection, and a run makes one connection per recipient.
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc == EAI_NONAME) {
        hints.ai_flags = AI_ADDRCONFIG;
        rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    }
    if (rc != 0) return fail(StreamResult::Failed, std::string("host lookup: ") + gai_strerror(rc));

    StreamResult last = StreamResult::Failed;
    std::string lastText = "no address";
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          ai->ai_protocol);
        if (fd < 0) {
            lastText = std::string("socket: ") + std::strerror(errno);
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int err = 0;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                err = errno;
            } else {
                int ready = pollUntil(fd, POLLOUT, deadline, interrupted_);
                if (ready == 0) {
                    ::close(fd);
                    last = StreamResult::TimedOut;
                    lastText = "connect timed out";
                    break;  // the time budget is spent; later addresses get nothing
                }
                socklen_t len = sizeof err;
                if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno ? errno : EIO;
            }
        }
        if (err == 0) {
            fd_ = fd;
            ::freeaddrinfo(list);
            error_.clear();
            return StreamResult::Ok;
        }
        ::close(fd);
        last = StreamResult::Failed;
        lastText = std::string("connect: ") + std::strerror(err);
    }
    ::freeaddrinfo(list);
    return fail(last, lastText);
}

StreamResult TcpStream::waitFor(bool forWrite, Clock::time_point deadline) {
    int ready = pollUntil(fd_, forWrite ? POLLOUT : POLLIN, deadline, interrupted_);
    if (ready == 0) return fail(StreamResult::TimedOut, "timed out");
    if (ready < 0 && errno == ECANCELED) return fail(StreamResult::Failed, "interrupted");
    if (ready < 0) return fail(StreamResult::Failed, std::string("poll: ") + std::strerror(errno));
    return StreamResult::Ok;
}

StreamResult TcpStream::sendAll(std::string_view data, Millis timeout) {
    if (fd_ < 0) return fail(StreamResult::Failed, "not connected");
    while (!data.empty()) {
        auto deadline = Clock::now() + timeout;
        if (ssl_) {
            ERR_clear_error();
            size_t chunk = data.size() > (1u << 30) ? (1u << 30) : data.size();
            int n = SSL_write(ssl_, data.data(), static_cast<int>(chunk));
            if (n > 0) {
                data.remove_prefix(static_cast<size_t>(n));
                continue;
            }
            int e = SSL_get_error(ssl_, n);
            if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) {
                StreamResult r = waitFor(e == SSL_ERROR_WANT_WRITE, deadline);
                if (r != StreamResult::Ok) return r;
                continue;
            }
            if (e == SSL_ERROR_ZERO_RETURN) return fail(StreamResult::Closed, "connection closed");
            return fail(StreamResult::Failed, "TLS write: " + opensslErrorText());
        }
        ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            StreamResult r = waitFor(true, deadline);
            if (r != StreamResult::Ok) return r;
            continue;
        }
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET))
            return fail(StreamResult::Closed, "connection closed");
        return fail(StreamResult::Failed, std::string("send: ") + std::strerror(errno));
    }
    return StreamResult::Ok;
}

StreamResult TcpStream::receive(char* buffer, std::size_t size, std::size_t& received,
                                Millis timeout) {
    received = 0;
    if (fd_ < 0) return fail(StreamResult::Failed, "not connected");
    if (size == 0) return StreamResult::Ok;
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (ssl_) {
            ERR_clear_error();
            int want = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
            int n = SSL_read(ssl_, buffer, want);
            if (n > 0) {
                received = static_cast<size_t>(n);
                return StreamResult::Ok;
            }
            int e = SSL_get_error(ssl_, n);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
                StreamResult r = waitFor(e == SSL_ERROR_WANT_WRITE, deadline);
                if (r != StreamResult::Ok) return r;
                continue;
            }
            if (e == SSL_ERROR_ZERO_RETURN) return fail(StreamResult::Closed, "connection closed");
            // A peer that drops TCP without close_notify ends up here too.
            if (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
                return fail(StreamResult::Closed, "connection closed");
            return fail(StreamResult::Failed, "TLS read: " + opensslErrorText());
        }
        ssize_t n = ::recv(fd_, buffer, size, 0);
        if (n > 0) {
            received = static_cast<size_t>(n);
            return StreamResult::Ok;
        }
        if (n == 0) return fail(StreamResult::Closed, "connection closed");
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            StreamResult r = waitFor(false, deadline);
            if (r != StreamResult::Ok) return r;
            continue;
        }
        if (errno == ECONNRESET) return fail(StreamResult::Closed, "connection reset");
        return fail(StreamResult::Failed, std::string("recv: ") + std::strerror(errno));
    }
}

StreamResult TcpStream::startTls(const std::string& host, const TlsOptions& options,
                                 Millis timeout) {
    if (fd_ < 0) return fail(StreamResult::Failed, "not connected");
    if (ssl_) return fail(StreamResult::Failed, "TLS already active");
    ERR_clear_error();
    SSL_CTX* ctx = systemContext();
    SSL_CTX* own = nullptr;
    if (!options.caFile.empty()) {
        own = SSL_CTX_new(TLS_client_method());
        if (!own || SSL_CTX_load_verify_locations(own, options.caFile.c_str(), nullptr) != 1) {
            if (own) SSL_CTX_free(own);
            return fail(StreamResult::Failed, "cannot load CA file: " + opensslErrorText());
        }
        ctx = own;
    }
    if (!ctx) return fail(StreamResult::Failed, "TLS unavailable: " + opensslErrorText());
    ssl_ = SSL_new(ctx);
    if (own) SSL_CTX_free(own);  // the SSL object holds its own reference
    if (!ssl_) return fail(StreamResult::Failed, "TLS unavailable: " + opensslErrorText());
    SSL_set_fd(ssl_, fd_);

    bool ipLiteral = isIpLiteral(host);
    if (!ipLiteral && !host.empty()) SSL_set_tlsext_host_name(ssl_, host.c_str());
    if (options.verify) {
        SSL_set_verify(ssl_, SSL_VERIFY_PEER, nullptr);
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
        int ok = ipLiteral ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                           : SSL_set1_host(ssl_, host.c_str());
        if (ok != 1) {
            close();
            return fail(StreamResult::Failed, "cannot set the name to verify");
        }
    } else {
        SSL_set_verify(ssl_, SSL_VERIFY_NONE, nullptr);
    }

    auto deadline = Clock::now() + timeout;
    for (;;) {
        ERR_clear_error();
        int rc = SSL_connect(ssl_);
        if (rc == 1) return StreamResult::Ok;
        int e = SSL_get_error(ssl_, rc);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            StreamResult r = waitFor(e == SSL_ERROR_WANT_WRITE, deadline);
            if (r != StreamResult::Ok) {
                std::string text = error_;
                close();
                return fail(r, "TLS handshake " + text);
            }
            continue;
        }
        std::string text;
        long verify = SSL_get_verify_result(ssl_);
        if (options.verify && verify != X509_V_OK)
            text = std::string("certificate refused: ") + X509_verify_cert_error_string(verify);
        else if (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
            text = "connection closed during TLS handshake";
        else
            text = "TLS handshake failed: " + opensslErrorText();
        close();
        return fail(StreamResult::Failed, text);
    }
}

}  // namespace qm
