// A scripted POP3 server on 127.0.0.1 and a port the kernel picks, for what Dovecot will not do
// on demand: replies split across segments, a terminator cut between reads, silence at any stage,
// replies that are neither +OK nor -ERR. It serves one connection, runs its script step by step
// and records every byte the client sent.
//
// Strictness: whatever the script says, a command out of its state gets the answer a real server
// gives and ends the script with a mismatch naming it: STAT or RETR before a successful PASS
// ("-ERR Unknown command"), PASS without an accepted USER ("-ERR No username given."), USER or
// STLS after login, anything after QUIT. Expect steps read to the end of the client's line.
//
// Failure: mismatch() is empty when the client sent exactly what the script expected.
// Limits: one connection; each read waits at most 5 s, the accept 10 s.
// Threads: the script runs on the server's own thread; read the results after finish().
#pragma once

#include <string>
#include <thread>
#include <vector>

namespace qm::test {

struct Pop3Step {
    enum Kind {
        Send,    // write `text` as one segment, then pause 20 ms so the next one arrives apart
        Expect,  // read one line from the client; it must equal `text`
        Hold,    // say nothing until the client goes away
        Close,   // close the connection
    };
    Kind kind;
    std::string text;
};

inline Pop3Step say(std::string t) {
    return {Pop3Step::Send, std::move(t)};
}
inline Pop3Step want(std::string t) {
    return {Pop3Step::Expect, std::move(t)};
}
inline Pop3Step silence() {
    return {Pop3Step::Hold, {}};
}
inline Pop3Step hangUp() {
    return {Pop3Step::Close, {}};
}

class FakePop3Server {
  public:
    explicit FakePop3Server(std::vector<Pop3Step> script);
    ~FakePop3Server();
    FakePop3Server(const FakePop3Server&) = delete;
    FakePop3Server& operator=(const FakePop3Server&) = delete;

    int port() const { return port_; }
    void finish();
    const std::string& received() const { return received_; }
    const std::string& mismatch() const { return mismatch_; }

  private:
    void run();
    // The refusal a real server gives to `line` in the present state, or empty.
    std::string refusal(const std::string& line) const;
    // Follows the state from the client's line and the script's answer to it.
    void answered(const std::string& line, const std::string& reply);

    enum class State { Authorization, UserGiven, Transaction, Quit };
    std::vector<Pop3Step> script_;
    int listenFd_ = -1;
    int port_ = 0;
    State state_ = State::Authorization;
    std::string lastCommand_;
    std::string received_;
    std::string mismatch_;
    std::thread thread_;
};

}  // namespace qm::test
