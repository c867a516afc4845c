// The end of a run as the engine reports it, recorded for tests: "finished", "stopped" or
// "relay:<message>" in `endings`, and the last summary. Test observers derive from it and add the
// calls they care about.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "delivery/campaign_run.h"

namespace qm::test {

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
