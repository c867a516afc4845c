// A scripted TCP server on 127.0.0.1 and a port the kernel picks, for what real servers will not
// do on demand: replies split across segments, garbage, odd replies to the end of the data,
// silence. It serves one connection (or several in turn, with acceptNext()), runs its script step
// by step and records every byte the client sent.
//
// Entry points: FakeServer(script), port(), finish(), received(), mismatch(); the step makers
// send(), expect(), readData(), hold(), stall(), closeConnection().
//
// Strictness: whatever the script says, the server follows the client's commands as a real server
// does. MAIL inside a transaction (a MAIL that the script accepted with a 2xx, not yet ended by
// RSET or an end of data) gets "503 5.5.1 Error: nested MAIL command", and RCPT or DATA without an
// accepted MAIL gets "503 5.5.1 Error: need MAIL command"; either ends the script with a mismatch
// that names it. Expect steps read up to the end of the client's line, so such a command is seen
// whole even where the script expected a shorter one.
//
// Failure: mismatch() is empty when the client sent exactly what the script expected.
//
// Limits: one connection at a time; each read waits at most 5 s, the accept 10 s.
//
// Threads: the script runs on the server's own thread; read the results after finish().
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qm::test {

struct ServerStep {
    enum Kind {
        Send,    // write `text` as one segment, then pause 20 ms so the next one arrives apart
        Expect,  // read text.size() bytes (and on to the line end); they must equal `text`
        Data,    // read a message of any content up to its end-of-data line
        Hold,    // say nothing until the client goes away
        Stall,   // neither read nor write for 1.5 s (the client's sends back up)
        Close,   // close the connection
        Accept,  // end this connection (as Close) and serve the next client that connects
    };
    Kind kind;
    std::string text;
};

inline ServerStep send(std::string t) {
    return {ServerStep::Send, std::move(t)};
}
inline ServerStep expect(std::string t) {
    return {ServerStep::Expect, std::move(t)};
}
inline ServerStep readData() {
    return {ServerStep::Data, {}};
}
inline ServerStep hold() {
    return {ServerStep::Hold, {}};
}
inline ServerStep stall() {
    return {ServerStep::Stall, {}};
}
inline ServerStep closeConnection() {
    return {ServerStep::Close, {}};
}
inline ServerStep acceptNext() {
    return {ServerStep::Accept, {}};
}

// The SMTP state a real server keeps, followed from the client's lines and the script's replies.
// Commands wait in order for their replies, so a pipelined group (RFC 2920) is judged command by
// command as its replies go out, as a real server judges it.
class SmtpStateTracker {
  public:
    // Takes what the client sent. When nothing else awaits a reply (lock-step), returns the
    // refusal a real server would give to a command that is out of order (and keeps that command
    // from changing the state), or an empty text.
    std::string clientBytes(std::string_view bytes);
    // Takes reply bytes the script sends; each complete reply settles the oldest waiting command.
    void serverReply(std::string_view reply);
    // Set when the script accepted a pipelined command that a real server refuses.
    const std::string& violation() const { return violation_; }

  private:
    enum class Pending { Mail, Rcpt, Data, EndOfData, Reset, Other };
    // The refusal a real server gives to `command` in the current state, or empty.
    std::string judge(Pending command) const;
    void settle(Pending command, char digit);

    std::string line_;
    std::string reply_;
    std::vector<Pending> waiting_;
    std::string violation_;
    bool inTransaction_ = false;
    bool haveRecipient_ = false;
    bool inData_ = false;
};

class FakeServer {
  public:
    explicit FakeServer(std::vector<ServerStep> script);
    // For a script that must name the port the server listens on.
    explicit FakeServer(const std::function<std::vector<ServerStep>(int port)>& makeScript);
    ~FakeServer();  // waits for the script to end (the client must have gone)
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return port_; }
    // Waits for the script to end; then everything the client sent, and the first mismatch.
    void finish();
    const std::string& received() const { return received_; }
    const std::string& mismatch() const { return mismatch_; }
    int connections() const { return connections_; }

  private:
    void run();
    int acceptClient();
    void endClient(int fd);

    std::vector<ServerStep> script_;
    int listenFd_ = -1;
    int port_ = 0;
    std::string received_;
    std::string mismatch_;
    int connections_ = 0;
    SmtpStateTracker state_;
    std::thread thread_;
};

}  // namespace qm::test
