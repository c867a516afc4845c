#include "subscriptions/pop3_client.h"

#include "common/text.h"

#include <climits>
#include <ctime>
#include <iterator>

namespace qm {

namespace {

using namespace std::chrono_literals;

struct StageInfo {
    std::string_view description;
    std::chrono::milliseconds timeout;
    std::string_view refusal;  // the text of a "-ERR" at this stage
};

// A POP3 server answers at once unless the mailbox is large: two minutes covers a slow one, and a
// message on a slow link gets five minutes of silence before it counts as lost.
constexpr StageInfo kStages[] = {
    {"while connecting", 30s, ""},
    {"while starting TLS", 60s, "STLS refused by the server"},
    {"while reading the greeting", 120s, "Server didn't connect."},
    {"while reading the USER reply", 120s, "Invalid user name."},
    {"while reading the PASS reply", 120s, "Invalid username/password. "},
    {"while reading the STAT reply", 120s, "Status couldn't be retrieved."},
    {"while reading the RETR reply", 120s, "Retrieve failed."},
    {"while reading the message", 300s, "Retrieve failed."},
    {"while reading the QUIT reply", 120s, "Error while quiting."},
};
static_assert(std::size(kStages) == kPop3StageCount, "one row per Pop3Stage");

const StageInfo& info(Pop3Stage s) {
    return kStages[static_cast<std::size_t>(s)];
}

}  // namespace

std::string_view pop3StageDescription(Pop3Stage stage) {
    return info(stage).description;
}

Pop3Timeouts Pop3Timeouts::defaults() {
    Pop3Timeouts t;
    for (std::size_t i = 0; i < kPop3StageCount; ++i) t.limit[i] = kStages[i].timeout;
    return t;
}

Pop3Timeouts Pop3Timeouts::uniform(std::chrono::milliseconds each) {
    Pop3Timeouts t;
    t.limit.fill(each);
    return t;
}

Pop3Client::Pop3Client(std::string server, int port, std::string userName, std::string password)
    : server_(std::move(server)),
      port_(port),
      userName_(std::move(userName)),
      password_(std::move(password)) {}

Pop3Client::~Pop3Client() {
    disconnect();
    wipeSecret(password_);
}

void Pop3Client::interrupt() {
    interrupted_ = true;
    stream_.interrupt();
}

bool Pop3Client::fail(Pop3Failure kind, Pop3Stage stage, std::string text) {
    failure_ = kind;
    failedStage_ = stage;
    lastError_ = std::move(text);
    return false;
}

void Pop3Client::closeConnection() {
    stream_.close();
    input_.clear();
    connected_ = false;
}

bool Pop3Client::failStream(Pop3Stage stage, StreamResult result) {
    // Whatever the server says next can no longer be matched to a command.
    closeConnection();
    if (interrupted_.load())
        return fail(Pop3Failure::Interrupted, stage, std::string(kSocketError));
    if (result == StreamResult::TimedOut)
        return fail(Pop3Failure::TimedOut, stage,
                    "Timed out " + std::string(info(stage).description));
    return fail(Pop3Failure::SocketError, stage, std::string(kSocketError));
}

bool Pop3Client::send(Pop3Stage stage, std::string_view line) {
    StreamResult r = stream_.sendAll(line, timeouts_[stage]);
    return r == StreamResult::Ok || failStream(stage, r);
}

bool Pop3LineBuffer::next(std::string& line, std::size_t cap) {
    std::size_t lf = input_.find('\n', scanned_);
    if (lf != std::string::npos) {
        line = std::move(partial_);
        if (!dropping_) line.append(input_, 0, lf);
        input_.erase(0, lf + 1);
        partial_.clear();
        dropping_ = false;
        scanned_ = 0;
        if (line.size() > cap) line.resize(cap);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }
    if (input_.size() > cap) {
        if (!dropping_) partial_.assign(input_, 0, cap);
        dropping_ = true;
        input_.clear();
    }
    scanned_ = input_.size();
    return false;
}

void Pop3LineBuffer::clear() {
    input_.clear();
    partial_.clear();
    dropping_ = false;
    scanned_ = 0;
}

int pop3StatCount(std::string_view reply) {
    std::size_t digit = reply.find_first_of("0123456789");
    if (digit == std::string_view::npos) return -1;
    long long count = 0;
    for (std::size_t i = digit; i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; ++i) {
        count = count * 10 + (reply[i] - '0');
        if (count > INT_MAX) return -1;
    }
    return static_cast<int>(count);
}

bool isPop3Refusal(std::string_view reply) {
    return reply.substr(0, 4) == "-ERR";
}

bool Pop3Client::readLine(Pop3Stage stage, std::string& line, std::size_t cap) {
    line.clear();
    const auto deadline = std::chrono::steady_clock::now() + timeouts_[stage];
    char buffer[16384];
    while (!input_.next(line, cap)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return failStream(stage, StreamResult::TimedOut);
        std::size_t n = 0;
        StreamResult r = stream_.receive(buffer, sizeof buffer, n, left);
        if (r != StreamResult::Ok) return failStream(stage, r);
        input_.add(std::string_view(buffer, n));
    }
    return true;
}

bool Pop3Client::command(Pop3Stage stage, std::string_view line) {
    if (!line.empty() && !send(stage, line)) return false;
    if (!readLine(stage, lastReply_, kMaxReplyLine)) return false;
    if (isPop3Refusal(lastReply_))
        return fail(Pop3Failure::Refused, stage, std::string(info(stage).refusal));
    return true;
}

bool Pop3Client::startTls() {
    TlsOptions options{security_.verifyCert, security_.caFile};
    StreamResult r = stream_.startTls(server_, options, timeouts_[Pop3Stage::Tls]);
    if (r == StreamResult::Ok) return true;
    if (r == StreamResult::TimedOut || interrupted_.load()) return failStream(Pop3Stage::Tls, r);
    std::string text = "Cannot start TLS: " + stream_.lastError();
    closeConnection();
    return fail(Pop3Failure::Tls, Pop3Stage::Tls, std::move(text));
}

bool Pop3Client::connect() {
    if (connected_) return true;
    failure_ = Pop3Failure::None;
    closeConnection();
    StreamResult r = stream_.connect(server_, port_, timeouts_[Pop3Stage::Connect]);
    if (r == StreamResult::TimedOut || interrupted_.load())
        return failStream(Pop3Stage::Connect, r);
    if (r != StreamResult::Ok)
        return fail(Pop3Failure::NoConnection, Pop3Stage::Connect, std::string(kNoConnect));
    if (security_.mode == Pop3Security::Tls && !startTls()) return false;

    auto refused = [this] {
        closeConnection();
        return false;
    };
    if (!command(Pop3Stage::Greeting, {})) return refused();
    if (security_.mode == Pop3Security::StartTls) {
        if (!command(Pop3Stage::Tls, "STLS\r\n")) {
            if (failure_ == Pop3Failure::Refused) failure_ = Pop3Failure::Tls;
            return refused();
        }
        // Bytes that came before the handshake travelled in clear text and could have been put
        // there by anyone on the path: they must not be read as if TLS had carried them.
        if (input_.pending() != 0) {
            closeConnection();
            return fail(Pop3Failure::Tls, Pop3Stage::Tls, "Unexpected data after the STLS reply");
        }
        if (!startTls()) return false;
    }
    std::string line = "USER " + userName_ + "\r\n";
    if (line.find_first_of("\r\n") != line.size() - 2) {
        // A line break in the name would let it carry a command of its own.
        closeConnection();
        return fail(Pop3Failure::Refused, Pop3Stage::User,
                    std::string(info(Pop3Stage::User).refusal));
    }
    if (!command(Pop3Stage::User, line)) return refused();
    line = "PASS " + password_ + "\r\n";
    const bool passSafe = line.find_first_of("\r\n") == line.size() - 2;
    const bool ok = passSafe && command(Pop3Stage::Pass, line);
    wipeSecret(line);
    if (!passSafe) {
        closeConnection();
        return fail(Pop3Failure::Refused, Pop3Stage::Pass,
                    std::string(info(Pop3Stage::Pass).refusal));
    }
    if (!ok) return refused();
    connected_ = true;
    return true;
}

int Pop3Client::messageCount() {
    if (!connected_ || !stream_.isOpen()) {
        fail(Pop3Failure::SocketError, Pop3Stage::Stat, std::string(kSocketError));
        return -1;
    }
    if (!command(Pop3Stage::Stat, "STAT\r\n")) return -1;
    const int count = pop3StatCount(lastReply_);
    if (count < 0) {
        fail(Pop3Failure::Refused, Pop3Stage::Stat, std::string(info(Pop3Stage::Stat).refusal));
        return -1;
    }
    return count;
}

bool Pop3Client::retrieve(int number, RetrievedMessage& out) {
    if (!connected_ || !stream_.isOpen())
        return fail(Pop3Failure::SocketError, Pop3Stage::Retr, std::string(kSocketError));
    if (!command(Pop3Stage::Retr, "RETR " + std::to_string(number) + "\r\n")) return false;
    // The message ends at a line that is a single ".", wherever the bytes were split; a
    // "\r\n.\r\n" searched for in whatever happens to be buffered may be cut in two.
    std::string text;
    std::string line;
    for (;;) {
        if (!readLine(Pop3Stage::RetrData, line, kMaxMessageBytes)) return false;
        if (line == ".") break;
        if (text.size() + line.size() + 2 > kMaxMessageBytes) {
            // The rest of the message is still on its way: the connection cannot go on.
            closeConnection();
            return fail(Pop3Failure::TooLarge, Pop3Stage::RetrData, std::string(kTooLarge));
        }
        text += line;
        text += "\r\n";
    }
    out = parseRetrievedMessage(text, std::time(nullptr));
    return true;
}

bool Pop3Client::disconnect() {
    if (!connected_) return true;
    connected_ = false;
    if (!stream_.isOpen()) return true;
    const bool ok = command(Pop3Stage::Quit, "QUIT\r\n");
    closeConnection();
    return ok;
}

}  // namespace qm
