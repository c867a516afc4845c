// SmtpClient: one SMTP connection that delivers built messages (RFC 5321, AUTH PLAIN or LOGIN,
// STARTTLS).
// Conversation with security None: greeting 220, bare "HELO \r\n" (a 501 gets a second HELO with
// the hello domain), then with authentication "EHLO \r\n" (same 501 rule) and AUTH. With
// StartTls: EHLO, STARTTLS, EHLO again, AUTH; a server that does not offer STARTTLS fails. With
// Tls: TLS from the first byte, then EHLO and AUTH. Opportunistic (mail exchangers): EHLO, and
// STARTTLS without certificate checks when offered; a server that rejects EHLO gets HELO.
// AUTH is PLAIN with its initial response when the last EHLO reply lists PLAIN, else LOGIN; with
// an OAuth 2 access token (setLogin) it is XOAUTH2, or OAUTHBEARER when the server lists that and
// not XOAUTH2, each with its initial response; a refusal comes as a 334 with an error report,
// which gets the empty answer (XOAUTH2) or the %x01 answer (OAUTHBEARER) before the final 535.
// With StartTls or Tls no login goes out on a connection that is not encrypted. The keywords of the
// last EHLO reply are kept as a typed set (capabilities()).
//
// Entry points, in the order the send engine calls them for one recipient on its own thread:
//   SmtpClient c(host, port); c.setServer(...) (relay mode); c.setCredentials(...);
//   c.setSecurity(...); c.setLogSink(slot, &log); c.setHelloDomain(...);
//   c.connect() (retried by the caller); c.sendMessage(msg); after a refusal, when canRetry(),
//   c.reset() and sendMessage again; c.disconnect(); failure(), lastError() after a false result.
// The destructor ends a live session with QUIT.
//
// Failure: false plus a kind (failure(), the stage in failedStage()) and a one-line lastError(),
// never an exception; callers decide on the kind, never on the text. A reply with the wrong code
// is Refused, "%d:%s" with the row text ("550:SMTP server error"); a wrong greeting gives "Server
// didn't respond."; a failed AUTH "Authentication Failed". A time-out, a lost connection or
// a garbled reply names its stage ("Timed out while sending RCPT TO"). Every protocol failure (a
// garbled reply, a time-out, a lost connection, a failed connect, a refused RSET) closes the
// session, with QUIT first when the connection still carries replies; a well-formed refusal of
// MAIL, RCPT, DATA or the end of data leaves it open for RSET and another try, and an address
// with a line break is refused before anything is sent. A message is never sent
// twice: once the end of its data has gone out, only a well-formed 4xx or 5xx reply allows another
// try (canRetry()); a garbled or odd reply, a time-out or a lost connection there leaves
// deliveryUncertain() true and a text saying the message may have been delivered. Every server
// reply's first line and every failure text go to the log slot; nothing the client sends is ever
// logged, and no error text carries a secret.
//
// Limits: replies are read whole (continuation lines included) by SmtpReplyReader with its line
// caps; each stage waits at most its time-out from SmtpTimeouts (Postfix's defaults unless the
// caller sets others).
//
// Threads: one client belongs to one thread; only the SendLogBuffer is shared, and interrupt() may
// be called from any thread.
//
// Pipelining (setPipelining): RSET, MAIL, RCPT and DATA leave in one write and their replies are
// read and logged in order. A refused command in the group is the message's failure as it would
// be one step at a time; the replies after it are still read, so the session stays in step. A
// 354 to DATA after a refused RCPT gets a lone "." (RFC 2920 section 3.1), never the message,
// and the RCPT refusal stays the result. A 421 anywhere in the group closes the connection.
//
// Standard: RFC 5321 (SMTP), RFC 4954 (AUTH) with PLAIN (RFC 4616), LOGIN, OAUTHBEARER (RFC 7628)
// and XOAUTH2 (the form the large providers document), RFC 3207 (STARTTLS), RFC 2920 (PIPELINING).
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/smtp_transparency.h"
#include "common/tcp_stream.h"
#include "delivery/delivery_settings.h"
#include "delivery/smtp_reply.h"

namespace qm {

class SendLogBuffer;

enum class SmtpStage {
    Connect,
    Greeting,
    Helo,
    Tls,
    Auth,
    Mail,
    Rcpt,
    Data,
    DataTransfer,
    EndOfData,
    Rset,
    Quit,  // the last stage: kSmtpStageCount counts from it
};
inline constexpr std::size_t kSmtpStageCount = static_cast<std::size_t>(SmtpStage::Quit) + 1;

// What kind of failure the last false result was.
enum class SmtpFailure {
    None,
    NotConnected,    // sendMessage before connect: "Must be connected"
    NoConnection,    // the server could not be reached: "Unable to connect to server"
    NoGreeting,      // a greeting other than 220: "Server didn't respond."
    Refused,         // a well-formed reply with another code; replyCode() holds it
    AuthFailed,      // the server refused the account: "Authentication Failed"
    Tls,             // STARTTLS required but not offered or refused, or the handshake failed
    BadArgument,     // a line break in an address or the hello domain; nothing was sent
    Malformed,       // a reply that is not SMTP, or one that makes no sense at its stage
    TimedOut,        // the stage's time-out passed
    ConnectionLost,  // the server closed the connection
    SocketError,     // the network failed (or a Stop interrupted the wait)
};

// "while sending RCPT TO" and the like: what every stage-related error says.
std::string_view smtpStageDescription(SmtpStage stage);

struct SmtpTimeouts {
    std::array<std::chrono::milliseconds, kSmtpStageCount> limit;

    // connect 30 s; greeting, HELO/EHLO, TLS, AUTH, MAIL, RCPT, QUIT 300 s; DATA 120 s;
    // message transfer 180 s (per stall); end of data 600 s; RSET 20 s.
    static SmtpTimeouts defaults();
    // Every stage the same (tests).
    static SmtpTimeouts uniform(std::chrono::milliseconds each);
    std::chrono::milliseconds operator[](SmtpStage s) const {
        return limit[static_cast<std::size_t>(s)];
    }
    std::chrono::milliseconds& operator[](SmtpStage s) {
        return limit[static_cast<std::size_t>(s)];
    }
};

enum class SmtpSecurity { None, Opportunistic, StartTls, Tls };

struct SmtpSecurityOptions {
    SmtpSecurity mode = SmtpSecurity::None;
    bool verifyCert = true;  // StartTls and Tls only; Opportunistic never checks
    std::string caFile;      // trusted CAs instead of the system store (tests)
};

// What the password of setCredentials() is.
enum class SmtpLogin { Password, OAuthToken };

// The relay's security as the delivery settings choose it.
SmtpSecurityOptions relaySecurity(const DeliverySettings& settings);
// Opportunistic STARTTLS towards mail exchangers when `startTls` (setting MxStartTls), else none.
SmtpSecurityOptions mxSecurity(bool startTls);

// The extensions the server listed in its last EHLO reply; all false after HELO.
struct SmtpCapabilities {
    bool startTls = false;
    bool pipelining = false;
    bool auth = false;  // the AUTH keyword, whatever mechanisms follow
    bool authPlain = false;
    bool authLogin = false;
    bool authXoauth2 = false;
    bool authOAuthBearer = false;

    // Reads the extension lines of a 250 EHLO reply (the first line is the greeting); keywords
    // and mechanisms are compared without regard to case, "AUTH=" as some servers still write it
    // counts as AUTH.
    static SmtpCapabilities fromEhloReply(const SmtpReply& reply);
};

// What sendMessage needs of a built message. Views only: the caller keeps the message alive.
struct SmtpMessage {
    std::string_view sender;  // envelope sender with its angle brackets, e.g. "<a@example.com>"
    std::vector<std::string_view> recipients;
    std::string_view headerBlock;  // sent as built
    std::string_view body;         // sent through the transparency step
    // When not empty, the body in pieces (MimeMessage::bodyPieces) in place of `body`.
    std::vector<DataPiece> bodyPieces = {};
};

class SmtpClient {
  public:
    // Fixed failure texts (the kinds are in SmtpFailure).
    static constexpr std::string_view kAuthFailed = "Authentication Failed";
    static constexpr std::string_view kNoConnect = "Unable to connect to server";
    static constexpr std::string_view kNoGreeting = "Server didn't respond.";
    static constexpr std::string_view kMustBeConnected = "Must be connected";

    SmtpClient(std::string server, int port);
    ~SmtpClient();
    SmtpClient(const SmtpClient&) = delete;
    SmtpClient& operator=(const SmtpClient&) = delete;

    // Ignored when `server` is empty.
    void setServer(std::string server, int port);
    // Copies the credentials; they are wiped when replaced or when the client is destroyed. With
    // SmtpLogin::OAuthToken the password is an OAuth 2 access token.
    void setCredentials(bool authenticate, std::string_view userName, std::string_view password);
    void setLogin(SmtpLogin login) { login_ = login; }
    void setSecurity(SmtpSecurityOptions options) { security_ = std::move(options); }
    const SmtpSecurityOptions& security() const { return security_; }
    void setTimeouts(const SmtpTimeouts& timeouts) { timeouts_ = timeouts; }
    // Ignored when `log` is null.
    void setLogSink(int slot, SendLogBuffer* log);
    void setHelloDomain(std::string domain) { helloDomain_ = std::move(domain); }
    // Lets sendMessage send RSET, MAIL, RCPT and DATA in one write when the server offers
    // PIPELINING (RFC 2920) and the message has one recipient. It also makes a session without
    // security or account greet with EHLO (HELO after a refusal), since only EHLO learns the
    // extension. Off by default: the one-message conversation stays as it is.
    void setPipelining(bool allow) { pipeliningAllowed_ = allow; }
    // Before the next message on a kept session: its MAIL is preceded by RSET even though the
    // transaction before ended well, so no state of the earlier message carries over.
    void resetBeforeNextMessage() {
        if (connected_) needsReset_ = true;
    }
    // Sees every whole reply as received (the command line prints them).
    void setReplyObserver(std::function<void(const SmtpReply&)> observer) {
        observer_ = std::move(observer);
    }

    bool connect();
    // One mail transaction. A transaction left open by an earlier refusal is ended with RSET
    // first, so the server never sees MAIL inside a transaction.
    bool sendMessage(const SmtpMessage& message);
    // Ends an open transaction with RSET (true at once when none is open). A refused or garbled
    // reply ends the session and gives false.
    bool reset();
    // Sends QUIT and closes. True at once when not connected.
    bool disconnect();
    // Safe from any thread: the conversation in progress, and any later one, fails at its next
    // network wait. Stop uses it so no sending thread sits out a five-minute time-out.
    void interrupt() { stream_.interrupt(); }

    const std::string& lastError() const { return lastError_; }
    // The kind and stage of the failure behind the last false result, and the reply code when a
    // reply caused it (0 otherwise).
    SmtpFailure failure() const { return failure_; }
    SmtpStage failedStage() const { return failedStage_; }
    int replyCode() const { return replyCode_; }
    // The first line of the refusal behind replyCode() (empty when no reply caused the failure),
    // for callers that read what a temporary refusal says (a sending rate, a quota).
    const std::string& refusalLine() const { return refusalLine_; }
    // After a failed sendMessage: the server refused with a well-formed reply and the session is
    // open, so the message may be offered again (after reset()).
    bool canRetry() const { return failure_ == SmtpFailure::Refused && stream_.isOpen(); }
    // After a failed sendMessage: the end of the data went out and no well-formed refusal came
    // back. The server may hold the message; it must not be sent again.
    bool deliveryUncertain() const {
        return failedStage_ == SmtpStage::EndOfData && failure_ != SmtpFailure::Refused;
    }
    const std::string& server() const { return server_; }
    int port() const { return port_; }
    bool connected() const { return connected_; }
    // The connection is still open: no protocol failure or 421 has ended it.
    bool sessionOpen() const { return connected_ && stream_.isOpen(); }
    // The last EHLO reply listed PIPELINING.
    bool offersPipelining() const { return capabilities_.pipelining; }
    bool usesTls() const { return stream_.isTls(); }
    // What the server offered in its last EHLO reply of this session.
    const SmtpCapabilities& capabilities() const { return capabilities_; }

  private:
    enum class Row { Ok250 = 0, Ready220 = 1, Data354 = 2, Bye221 = 3 };

    bool fail(SmtpFailure kind, SmtpStage stage, std::string text, bool echoIt = true);
    void clearFailure();
    void echo(std::string_view text);
    bool failStream(SmtpStage stage, StreamResult result);
    // Ends a session that can no longer be trusted: QUIT first when `sayQuit` and the connection
    // is open (its reply is logged, its failure ignored), then close. The failure stays.
    void abandon(bool sayQuit = true);
    bool sendCommand(SmtpStage stage, std::string_view command);
    bool readReply(SmtpStage stage, SmtpReply& reply);
    // Reads a reply, echoes it and compares its code with the row's.
    bool check(SmtpStage stage, Row row, SmtpReply& reply);
    bool hello(std::string_view verb, SmtpReply& reply);
    bool helloPhase(bool& ehloDone);
    bool authenticate(bool needEhlo);
    bool authLogin();
    bool authPlain();
    // XOAUTH2 or OAUTHBEARER with `response` as the initial response; `errorAnswer` is what a 334
    // error report gets before the final reply.
    bool authToken(std::string_view mechanism, std::string response, std::string_view errorAnswer);
    bool startTlsNow(bool verify);
    bool sendBody(std::string_view headerBlock, const std::vector<DataPiece>& pieces);
    // After the 354: the message, the end of data and its reply; the transaction is then closed.
    bool sendDataAndFinish(const SmtpMessage& message);
    // The body as sendBody takes it: the message's pieces, else `whole` made of its one body.
    static const std::vector<DataPiece>& bodyOf(const SmtpMessage& message,
                                                std::vector<DataPiece>& whole);
    // sendMessage's transaction as one pipelined group (smtp_pipelining.cpp).
    bool sendPipelined(const SmtpMessage& message);
    // After a 421 the server closes; nothing more can be read or sent on this connection.
    bool closedByServer(const SmtpReply& reply);
    void closeConnection();

    std::string server_;
    int port_;
    std::string lastError_ = "OK";
    SmtpFailure failure_ = SmtpFailure::None;
    SmtpStage failedStage_ = SmtpStage::Connect;
    int replyCode_ = 0;
    std::string refusalLine_;
    bool needsReset_ = false;  // MAIL went out since the last completed transaction or RSET
    std::string helloDomain_;
    bool authenticate_ = false;
    SmtpLogin login_ = SmtpLogin::Password;
    std::string userName_;
    std::string password_;
    bool connected_ = false;
    bool pipeliningAllowed_ = false;
    SmtpSecurityOptions security_;
    SmtpCapabilities capabilities_;
    SmtpTimeouts timeouts_ = SmtpTimeouts::defaults();
    SendLogBuffer* log_ = nullptr;
    int slot_ = 0;
    std::function<void(const SmtpReply&)> observer_;
    TcpStream stream_;
    SmtpReplyReader reader_;
};

}  // namespace qm
