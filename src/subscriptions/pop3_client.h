// Pop3Client: reads the messages of one POP3 mailbox, never deleting any (every retrieval reads
// the whole mailbox again).
//
// Conversation: greeting, USER, PASS, then STAT and RETR n as asked, QUIT at the end. With
// Pop3Security::StartTls the client says STLS right after the greeting and logs in over TLS; with
// Tls the connection is TLS from its first byte (POP3S, usually port 995). With verification on,
// the server's certificate must lead to a trusted CA and match the server name.
//
// Entry points: Pop3Client(server, port, user, password); setSecurity(), setTimeouts();
// connect(), messageCount(), retrieve(n, message), disconnect(); interrupt() from any thread
// (Stop); lastError(), failure(), failedStage(). The destructor disconnects.
//
// Failure: a false result (-1 for messageCount) plus a kind and a one-line lastError(); callers
// decide on the kind, never on the text. A "-ERR" reply gives the command's fixed text ("Server
// didn't connect.", "Invalid user name.", "Invalid username/password. ", "Status couldn't be
// retrieved.", "Retrieve failed.", "Error while quiting."); any other reply counts as success,
// "+OK" or not, as many small servers answer loosely. A stall names its stage ("Timed out while
// reading the RETR reply"); a lost connection or a socket failure gives "Socket Error.". A failed
// connect closes the connection; a failed retrieve leaves it open for disconnect(), unless the
// stream broke. Nothing the client sends is kept in any text, so no error carries the password.
//
// Limits: a reply is a whole line however it arrives; status lines are cut at kMaxReplyLine bytes
// (the rest of the line is read and dropped). A message ends at its terminating "." line, however
// the bytes are split, and may hold at most kMaxMessageBytes (larger ones fail, "Message too
// large."). Every stage waits at most its time-out (Pop3Timeouts).
//
// Threads: one client belongs to one thread; interrupt() may be called from any other.
//
// Standard: RFC 1939 (POP3: USER, PASS, STAT, RETR, QUIT), RFC 2595 (STLS), RFC 8314 (POP3S).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/tcp_stream.h"
#include "subscriptions/retrieved_message.h"

namespace qm {

enum class Pop3Stage { Connect, Tls, Greeting, User, Pass, Stat, Retr, RetrData, Quit };
inline constexpr std::size_t kPop3StageCount = static_cast<std::size_t>(Pop3Stage::Quit) + 1;

enum class Pop3Failure {
    None,
    NoConnection,  // the server could not be reached
    Refused,       // "-ERR" to a command: the command's fixed text
    Tls,           // STLS refused, or the TLS handshake (certificate check included) failed
    TimedOut,      // the stage's time-out passed
    SocketError,   // the connection broke or closed
    Interrupted,   // interrupt() ended the wait
    TooLarge,      // a message above kMaxMessageBytes
};

enum class Pop3Security { None, StartTls, Tls };

struct Pop3SecurityOptions {
    Pop3Security mode = Pop3Security::None;
    bool verifyCert = true;
    std::string caFile;  // trusted CAs instead of the system store (tests)
};

struct Pop3Timeouts {
    std::array<std::chrono::milliseconds, kPop3StageCount> limit;
    // connect 30 s, TLS 60 s, greeting and every reply 120 s, message data 300 s per stall.
    static Pop3Timeouts defaults();
    static Pop3Timeouts uniform(std::chrono::milliseconds each);
    std::chrono::milliseconds operator[](Pop3Stage s) const {
        return limit[static_cast<std::size_t>(s)];
    }
};

// "while reading the STAT reply" and the like.
std::string_view pop3StageDescription(Pop3Stage stage);

// Cuts the bytes a server sends into lines (LF or CR LF ended), however they arrive. A line keeps
// at most `cap` bytes; the rest of it is read and dropped, so an endless line cannot grow the
// buffer past `cap` and the bytes of one receive. Pure, so that any bytes can be tried on it.
class Pop3LineBuffer {
  public:
    void add(std::string_view bytes) { input_.append(bytes); }
    // The next whole line without its line end, or false when none has ended yet.
    bool next(std::string& line, std::size_t cap);
    // Received bytes not yet handed out (a line being dropped counts none).
    std::size_t pending() const { return input_.size() + partial_.size(); }
    void clear();

  private:
    std::string input_;
    std::string partial_;  // the kept start of a line longer than the cap
    bool dropping_ = false;
    std::size_t scanned_ = 0;
};

// The STAT count of a status line: the number at its first digit; -1 without a digit or above
// INT_MAX.
int pop3StatCount(std::string_view reply);
// A "-ERR" status line (exact case, at the start).
bool isPop3Refusal(std::string_view reply);

class Pop3Client {
  public:
    static constexpr int kDefaultPort = 110;
    static constexpr int kDefaultTlsPort = 995;
    static constexpr std::size_t kMaxReplyLine = 4096;
    static constexpr std::size_t kMaxMessageBytes = 64u << 20;

    static constexpr std::string_view kNoConnect = "Unable to connect to server.";
    static constexpr std::string_view kSocketError = "Socket Error.";
    static constexpr std::string_view kTooLarge = "Message too large.";

    Pop3Client(std::string server, int port, std::string userName, std::string password);
    ~Pop3Client();
    Pop3Client(const Pop3Client&) = delete;
    Pop3Client& operator=(const Pop3Client&) = delete;

    void setSecurity(Pop3SecurityOptions options) { security_ = std::move(options); }
    void setTimeouts(const Pop3Timeouts& timeouts) { timeouts_ = timeouts; }

    bool connect();
    // The count from STAT (the number at its first digit), or -1.
    int messageCount();
    // Message `number` (1-based) into `out`; the message stays in the mailbox.
    bool retrieve(int number, RetrievedMessage& out);
    // QUIT and close; true at once when not connected.
    bool disconnect();
    void interrupt();

    const std::string& lastError() const { return lastError_; }
    // The last status line received, without its line end.
    const std::string& lastReply() const { return lastReply_; }
    Pop3Failure failure() const { return failure_; }
    Pop3Stage failedStage() const { return failedStage_; }
    bool connected() const { return connected_; }
    bool usesTls() const { return stream_.isTls(); }

  private:
    bool fail(Pop3Failure kind, Pop3Stage stage, std::string text);
    bool failStream(Pop3Stage stage, StreamResult result);
    bool send(Pop3Stage stage, std::string_view line);
    // One whole line without its line end; at most `cap` bytes kept.
    bool readLine(Pop3Stage stage, std::string& line, std::size_t cap);
    // Reads a status line; "-ERR" fails with the stage's fixed text.
    bool command(Pop3Stage stage, std::string_view line);
    bool startTls();
    void closeConnection();

    std::string server_;
    int port_;
    std::string userName_;
    std::string password_;
    Pop3SecurityOptions security_;
    Pop3Timeouts timeouts_ = Pop3Timeouts::defaults();
    std::string lastError_ = "OK";
    std::string lastReply_;
    Pop3Failure failure_ = Pop3Failure::None;
    Pop3Stage failedStage_ = Pop3Stage::Connect;
    bool connected_ = false;
    std::atomic<bool> interrupted_{false};
    TcpStream stream_;
    Pop3LineBuffer input_;  // received bytes not yet handed out as lines
};

}  // namespace qm
