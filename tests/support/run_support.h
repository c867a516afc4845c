// Helpers for tests of runs: a plain campaign request aimed at a relay, and the end of a run as
// the engine reports it ("finished", "stopped" or "relay:<message>" in `endings`, and the last
// summary). Test observers derive from RunEndings and add the calls they care about.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "delivery/campaign_run.h"

namespace qm::test {

// A plain-text personalised message from ann@example.test, sent on one thread without waits
// through the relay at 127.0.0.1:`port`.
inline RunRequest plainRunRequest(int port, std::vector<std::string> typed = {},
                                  std::vector<std::string> groups = {}) {
    RunRequest r;
    r.message.senderName = "Ann";
    r.message.senderAddress = "ann@example.test";
    r.message.subject = "Hello";
    r.message.format = MessageFormat::PlainText;
    r.message.plainText = r.message.body = "Dear [**EMAIL**], hello.";
    r.message.useDynamicVariables = true;
    r.typed = std::move(typed);
    r.groups = std::move(groups);
    r.delivery.mxMode = false;
    r.delivery.server = "127.0.0.1";
    r.delivery.port = static_cast<unsigned>(port);
    r.delivery.waitSeconds = 0;
    r.delivery.threadCount = 1;
    return r;
}

class RunEndings : public RunObserver {
  public:
    void relayFailure(const std::string& message) override { end("relay:" + message); }
    void finished(const RunSummary& s) override { end("finished", &s); }
    void stopped(const RunSummary& s) override { end("stopped", &s); }

    std::vector<std::string> endings;
    RunSummary summary;

  protected:
    // Called with the lock held after each ending is recorded.
    virtual void ended() {}
    std::mutex m_;

  private:
    void end(std::string what, const RunSummary* s = nullptr) {
        std::lock_guard g(m_);
        if (s) summary = *s;
        endings.push_back(std::move(what));
        ended();
    }
};

}  // namespace qm::test
