// SmtpSession: one sending thread's SMTP session kept from one recipient to the next, so a relay
// (or one exchanger in MX mode) sees one greeting, TLS handshake and login for up to
// "Messages per connection" messages instead of one for each.
//
// Entry points: SmtpSession s(target, log, slot, track); s.deliver(...) for each recipient in
// turn; s.close() (the destructor closes too). With DeliverySettings::perConnection of 1 deliver()
// is deliverBuilt(): a connection per recipient, the conversation unchanged.
//
// With N > 1: the session is kept while the next recipient goes to the same host and port (the
// relay; in MX mode the same exchanger, whatever the domain). Each later message starts with
// RSET. PIPELINING is used when the server offers it. The session is ended with QUIT after N
// messages, after any failure of a recipient, after a 421 (the server closes it), when the next
// recipient goes elsewhere, or when it sat idle longer than the idle limit.
//
// Failure: the outcome of each recipient as deliverBuilt gives it (4 connection attempts, then
// ConnectFailed; up to 4 offers of the message). A message is never sent twice: it is offered
// again only after a well-formed refusal, and a 421 sends it on a new connection as another offer.
// A kept session that the server dropped while idle (a lost connection or a refused RSET before
// anything of the new message was accepted) is opened afresh once, without counting an offer. A
// QUIT that fails after the N-th message does not change a result: the 250 after the end of the
// data already said the server took the message.
//
// Limits: at most kMaxPerConnection messages per session; idle limit 30 s unless set.
//
// Threads: the calling sending thread. `track` is told the client in use (then nullptr) so a
// Stop on another thread can interrupt its network waits.
//
// Standard: SMTP (RFC 5321), PIPELINING (RFC 2920), through SmtpClient.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "delivery/recipient_delivery.h"
#include "delivery/smtp_client.h"

namespace qm {

class SendLogBuffer;

class SmtpSession {
  public:
    SmtpSession(const DeliveryTarget& target, SendLogBuffer& log, int logSlot,
                std::function<void(SmtpClient*)> track);
    ~SmtpSession();
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    void setIdleLimit(std::chrono::milliseconds limit) { idleLimit_ = limit; }

    DeliveryOutcome deliver(const MimeMessage& message, const std::string& address,
                            const std::string& subject, const std::string& senderAddress,
                            const std::atomic<bool>& running);
    // Ends a kept session with QUIT; nothing when none is open.
    void close();

    // Connections opened so far (tests and benchmarks).
    int connections() const { return connections_; }

  private:
    bool open(const DeliveryRoute& route, const std::atomic<bool>& running, DeliveryOutcome& out);
    DeliveryOutcome offer(const MimeMessage& message, const std::string& address,
                          const std::string& subject, const DeliveryRoute& route,
                          const std::atomic<bool>& running);

    const DeliveryTarget& target_;
    SendLogBuffer& log_;
    int slot_;
    std::function<void(SmtpClient*)> track_;
    std::chrono::milliseconds idleLimit_{30000};

    std::unique_ptr<SmtpClient> client_;
    int messages_ = 0;  // messages the server took on this session
    std::chrono::steady_clock::time_point lastUse_;
    int connections_ = 0;
};

}  // namespace qm
