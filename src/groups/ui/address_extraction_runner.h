// The main window's "Import Email Address..." run: the extraction (groups/address_extraction.h)
// on a worker thread, its progress text, and Stop.
//
// Entry points: start() begins a run (false while one runs); stop() clears its running flag;
// progressText() carries "Opening File..." and "Emails extracted: %d" (at most ten a second) and
// finished() the result, both on the owner's thread.
// Threads: one worker per run, joined when the run ends or the runner is destroyed.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <thread>

#include "groups/address_extraction.h"

namespace qm::ui {

class AddressExtractionRunner : public QObject {
    Q_OBJECT
  public:
    explicit AddressExtractionRunner(QObject* parent = nullptr);
    ~AddressExtractionRunner() override;

    bool start(ExtractionRequest request);
    void stop() { running_ = false; }
    bool busy() const { return worker_.joinable(); }

  signals:
    void progressText(const QString& text);
    void finished(const qm::ExtractionResult& result);

  private:
    std::atomic<bool> running_{false};
    std::thread worker_;
};

}  // namespace qm::ui
