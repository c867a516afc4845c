#include "app/desktop_core.h"

namespace qm {

void RunObserverRelay::runStarted(std::size_t typedTotal) {
    if (RunObserver* t = target_.load()) t->runStarted(typedTotal);
}
void RunObserverRelay::groupStarted(const std::string& group, std::size_t members) {
    if (RunObserver* t = target_.load()) t->groupStarted(group, members);
}
void RunObserverRelay::groupUnavailable(const std::string& group, const std::string& text) {
    if (RunObserver* t = target_.load()) t->groupUnavailable(group, text);
}
void RunObserverRelay::skipped(const Recipient& member, const std::string& group) {
    if (RunObserver* t = target_.load()) t->skipped(member, group);
}
void RunObserverRelay::result(const SendResult& result) {
    if (RunObserver* t = target_.load()) t->result(result);
}
void RunObserverRelay::relayFailure(const std::string& message) {
    if (RunObserver* t = target_.load()) t->relayFailure(message);
}
void RunObserverRelay::finished(const RunSummary& summary) {
    if (RunObserver* t = target_.load()) t->finished(summary);
}
void RunObserverRelay::stopped(const RunSummary& summary) {
    if (RunObserver* t = target_.load()) t->stopped(summary);
}
void RunObserverRelay::paceChanged(double perMinute) {
    if (RunObserver* t = target_.load()) t->paceChanged(perMinute);
}

DesktopCore::DesktopCore(SettingsStore s) : DesktopCore(s, Paths::current(s)) {}

DesktopCore::DesktopCore(SettingsStore s, Paths p)
    : store(std::move(s)), paths(std::move(p)), run(paths, log, runEvents) {
    paths.ensureFolders();
}

}  // namespace qm
