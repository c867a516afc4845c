// One blocking-style TCP connection with optional TLS, for the protocol clients (SMTP, POP3).
//
// Entry points: connect() resolves the host through getaddrinfo (IPv4 and IPv6, every address in
// turn) and connects within a time limit; sendAll() and receive() move bytes, each bounded by a
// time limit; startTls() turns the open connection into a TLS session (right after connect for
// implicit TLS, or after a protocol's STARTTLS reply). close() ends everything; the destructor
// closes too.
//
// Failure contract: every call returns a StreamResult; on anything but Ok, lastError() holds a
// one-line text without the peer's data in it. A time-out is reported as TimedOut so callers can
// name the stage that stalled. After Failed or TimedOut the stream should be closed: a TLS
// session in an unknown state is not reusable.
//
// Verification: with TlsOptions::verify the peer's chain must lead to a trusted CA (the system's
// store, or caFile when given) and its certificate must match the host name (or IP address) that
// was passed to startTls(). Without it any certificate is accepted, as mail exchangers do among
// themselves. The socket is non-blocking inside; poll() supplies the time limits.
//
// Threads: one stream belongs to one thread. Streams on different threads share only a
// process-wide SSL_CTX, which OpenSSL allows.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

typedef struct ssl_st SSL;

namespace qm {

enum class StreamResult { Ok, Closed, TimedOut, Failed };

struct TlsOptions {
    bool verify = true;
    // PEM file of trusted CAs used instead of the system store (tests with a private CA).
    std::string caFile;
};

class TcpStream {
  public:
    using Millis = std::chrono::milliseconds;

    TcpStream() = default;
    ~TcpStream();
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    StreamResult connect(const std::string& host, int port, Millis timeout);
    // Sends every byte; the time limit applies to each stall (no progress), not to the whole
    // transfer, so a large message on a slow but moving link is not cut off.
    StreamResult sendAll(std::string_view data, Millis timeout);
    // Waits up to `timeout` for some bytes; `received` gets their count (0 unless Ok).
    StreamResult receive(char* buffer, std::size_t size, std::size_t& received, Millis timeout);
    // TLS client handshake on the open connection; `host` is the name the certificate must match
    // (and the SNI name when it is not an IP address).
    StreamResult startTls(const std::string& host, const TlsOptions& options, Millis timeout);
    void close();
    // Safe from any thread: every wait of this stream, now or later, ends at once with Failed
    // ("interrupted") within a tenth of a second. The Stop command of a run uses it.
    void interrupt();

    bool isOpen() const { return fd_ >= 0; }
    bool isTls() const { return ssl_ != nullptr; }
    const std::string& lastError() const { return error_; }

  private:
    StreamResult fail(StreamResult result, std::string text);
    // Waits for the TLS layer's wish (read or write) after SSL_ERROR_WANT_*.
    StreamResult waitFor(bool forWrite, std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    SSL* ssl_ = nullptr;
    std::atomic<bool> interrupted_{false};
    std::string error_;
};

}  // namespace qm
