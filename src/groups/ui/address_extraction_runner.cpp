#include "groups/ui/address_extraction_runner.h"

#include <QMetaObject>
#include <chrono>

#include "common/ui/text.h"

namespace qm::ui {

AddressExtractionRunner::AddressExtractionRunner(QObject* parent) : QObject(parent) {}

AddressExtractionRunner::~AddressExtractionRunner() {
    running_ = false;
    if (worker_.joinable()) worker_.join();
}

bool AddressExtractionRunner::start(ExtractionRequest request) {
    if (worker_.joinable()) return false;
    running_ = true;
    emit progressText(toScreen(kMsgOpeningFile));
    worker_ = std::thread([this, request = std::move(request)] {
        auto last = std::chrono::steady_clock::time_point{};
        ExtractionResult result = extractAddresses(request, running_, [&](std::size_t found) {
            auto now = std::chrono::steady_clock::now();
            if (now - last < std::chrono::milliseconds(100)) return;
            last = now;
            QString text = toScreen(kMsgEmailsExtracted) + QString::number(found);
            QMetaObject::invokeMethod(
                this, [this, text] { emit progressText(text); }, Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            this,
            [this, result = std::move(result)] {
                if (worker_.joinable()) worker_.join();
                emit progressText(QString());
                emit finished(result);
            },
            Qt::QueuedConnection);
    });
    return true;
}

}  // namespace qm::ui
