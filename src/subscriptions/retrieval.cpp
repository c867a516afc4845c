#include "subscriptions/retrieval.h"

#include <algorithm>

#include "common/atomic_file.h"
#include "common/text.h"
#include "subscriptions/unsubscriber_store.h"

namespace qm {

namespace {

std::string percentText(std::string_view what, long long part, long long whole) {
    return std::string(what) + std::to_string(whole > 0 ? part * 100 / whole : 0) + "% Done";
}

}  // namespace

RetrievalInputCheck checkRetrievalInput(std::string_view user, std::string_view password,
                                        std::string_view server, std::string_view outputFile) {
    using S = RetrievalInputStatus;
    if (trimWhite(user).empty()) return {S::UserEmpty, "Please fill the unsubscribe mail ID."};
    if (trimWhite(password).empty()) return {S::PasswordEmpty, "Please fill the password."};
    if (trimWhite(server).empty()) return {S::ServerEmpty, "Please fill the mail server."};
    if (trimWhite(outputFile).empty())
        return {S::OutputEmpty, "Please specify the file name where results are to be stored."};
    return {};
}

RetrievalRun::RetrievalRun(Paths paths, RetrievalRequest request, std::vector<std::string>& list)
    : paths_(std::move(paths)), request_(std::move(request)), list_(list) {}

void RetrievalRun::stop() {
    running_ = false;
    std::lock_guard guard(clientLock_);
    if (client_) client_->interrupt();
}

bool RetrievalRun::handle(const RetrievedMessage& message, RetrievalObserver& observer,
                          RetrievalResult& result, std::string& error) {
    std::optional<std::string> address = senderAddress(message.from);
    if (!address) return true;
    if (std::find(list_.begin(), list_.end(), *address) == list_.end()) {
        list_.push_back(*address);
        observer.listed(*address);
    }
    if (request_.mode != RetrievalMode::Unsubscribe) return true;
    bool added = false;
    const std::string group = requestedGroup(message.subject);
    // A subject naming no possible group is that one sender's fault: said, and the run goes on.
    if (!isStoreGroupName(group)) {
        observer.notice("Not a group name: " + group);
        return true;
    }
    if (!recordUnsubscriber(paths_, group, *address, &added, &error)) return false;
    if (added) ++result.recorded;
    return true;
}

RetrievalResult RetrievalRun::run(RetrievalObserver& observer) {
    RetrievalResult result;
    auto failed = [&](std::string text) {
        // A failure after Stop is the Stop's own doing, not something to show.
        result.outcome = running_.load() ? RetrievalOutcome::Failed : RetrievalOutcome::Stopped;
        result.message = std::move(text);
        return result;
    };
    observer.status("Please wait");
    {
        Pop3Client client(request_.server, request_.port, request_.user, request_.password);
        client.setSecurity(request_.security);
        client.setTimeouts(request_.timeouts);
        {
            std::lock_guard guard(clientLock_);
            client_ = &client;
            if (!running_.load()) client.interrupt();
        }
        struct Forget {
            RetrievalRun& run;
            ~Forget() {
                std::lock_guard guard(run.clientLock_);
                run.client_ = nullptr;
            }
        } forget{*this};

        if (!client.connect()) return failed(client.lastError());
        const int n = client.messageCount();
        if (n <= 0) {
            if (n < 0) return failed(client.lastError());
            client.disconnect();
            result.outcome = RetrievalOutcome::NoMessages;
            result.message = kMsgNoNewEmails;
            return result;
        }
        for (int i = 1; i <= n; ++i) {
            if (!running_.load()) {
                client.disconnect();
                result.outcome = RetrievalOutcome::Stopped;
                return result;
            }
            observer.status(percentText("Retrieving Emails: ", i, n));
            RetrievedMessage message;
            if (!client.retrieve(i, message)) {
                std::string text = client.lastError();
                client.disconnect();
                return failed(std::move(text));
            }
            ++result.messages;
            std::string error;
            if (!handle(message, observer, result, error)) {
                client.disconnect();
                return failed(std::move(error));
            }
        }
        client.disconnect();
    }

    // The output file is replaced whole (an existing one is never left half written); a Stop while
    // the lines are gathered writes those gathered so far.
    std::string content;
    for (std::size_t k = 0; k < list_.size() && running_.load(); ++k) {
        observer.status(percentText("Writing File: ", static_cast<long long>(k),
                                    static_cast<long long>(list_.size())));
        content += list_[k];
        content += "\r\n";
    }
    if (!writeFileAtomic(request_.outputFile, content))
        return failed(std::string(kMsgUnableToSave));
    if (!running_.load()) {
        result.outcome = RetrievalOutcome::Stopped;
        return result;
    }

    if (request_.mode == RetrievalMode::Subscribe) {
        for (const std::string& group : request_.groups) {
            SubscribeResult r = addSubscribers(paths_, group, list_);
            if (!r.message.empty()) observer.notice(r.message);
        }
    }
    result.outcome = RetrievalOutcome::Done;
    result.message = kMsgRetrieved;
    return result;
}

}  // namespace qm
