// A scripted TCP server on 127.0.0.1 and a port the kernel picks, for what real servers will not
// do: replies split across segments, garbage, silence. It serves one connection, runs its script
// step by step and records every byte the client sent.
#pragma once

#include <string>
#include <thread>
#include <vector>

namespace qm::test {

struct ServerStep {
    enum Kind {
        Send,    // write `text` as one segment, then pause 20 ms so the next one arrives apart
        Expect,  // read exactly text.size() bytes; they must equal `text`
        Hold,    // say nothing until the client goes away
        Stall,   // neither read nor write for 1.5 s (the client's sends back up)
        Close,   // close the connection
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
inline ServerStep hold() {
    return {ServerStep::Hold, {}};
}
inline ServerStep stall() {
    return {ServerStep::Stall, {}};
}
inline ServerStep closeConnection() {
    return {ServerStep::Close, {}};
}

class FakeServer {
  public:
    explicit FakeServer(std::vector<ServerStep> script);
    ~FakeServer();  // waits for the script to end (the client must have gone)
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return port_; }
    // Waits for the script to end; then everything the client sent, and the first mismatch.
    void finish();
    const std::string& received() const { return received_; }
    const std::string& mismatch() const { return mismatch_; }

  private:
    void run();

    std::vector<ServerStep> script_;
    int listenFd_ = -1;
    int port_ = 0;
    std::string received_;
    std::string mismatch_;
    std::thread thread_;
};

}  // namespace qm::test
