#include "delivery/smtp_client.h"

#include "common/text.h"

#include "common/base64.h"
#include "common/smtp_transparency.h"
#include "config/settings.h"
#include "delivery/send_log_buffer.h"

namespace qm {

namespace {

using namespace std::chrono_literals;

struct StageInfo {
    std::string_view description;
    std::chrono::milliseconds timeout;
};

// Postfix's smtp_*_timeout defaults, and the words every error of a stage uses. Once the end of
// the data is out, the server may hold the message whatever else goes wrong: its words say so.
constexpr StageInfo kStages[] = {
    {"while connecting", 30s},
    {"while receiving the initial server greeting", 300s},
    {"while performing the HELO handshake", 300s},
    {"while starting TLS", 300s},
    {"while authenticating", 300s},
    {"while sending MAIL FROM", 300s},
    {"while sending RCPT TO", 300s},
    {"while sending DATA command", 120s},
    {"while sending message body", 180s},
    {"while sending end of data -- message may have been delivered", 600s},
    {"while sending RSET", 20s},
    {"while sending QUIT", 300s},
};
static_assert(std::size(kStages) == kSmtpStageCount, "one row per SmtpStage");

struct RowInfo {
    int code;
    std::string_view text;
};

constexpr RowInfo kRows[] = {
    {250, "SMTP server error"},
    {220, "SMTP server not available"},
    {354, "SMTP server not ready for data"},
    {221, "SMTP server didn't terminate session"},
};

// Replies go to a text log: control bytes from a hostile or broken server would garble it.
std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f) c = '?';
    }
    return out;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if ((a[k] & ~0x20) != (b[k] & ~0x20)) return false;
    return true;
}

}  // namespace

SmtpCapabilities SmtpCapabilities::fromEhloReply(const SmtpReply& reply) {
    SmtpCapabilities caps;
    for (std::size_t i = 1; i < reply.lines.size(); ++i) {
        std::string_view line = reply.lines[i];
        if (line.size() < 4) continue;
        line.remove_prefix(4);
        std::size_t end = line.find_first_of(" =");
        std::string_view word = line.substr(0, end);
        if (sameWord(word, "STARTTLS")) caps.startTls = true;
        if (sameWord(word, "PIPELINING")) caps.pipelining = true;
        if (!sameWord(word, "AUTH")) continue;
        caps.auth = true;
        while (end != std::string_view::npos) {
            line.remove_prefix(end + 1);
            end = line.find(' ');
            std::string_view mechanism = line.substr(0, end);
            if (sameWord(mechanism, "PLAIN")) caps.authPlain = true;
            if (sameWord(mechanism, "LOGIN")) caps.authLogin = true;
            if (sameWord(mechanism, "XOAUTH2")) caps.authXoauth2 = true;
            if (sameWord(mechanism, "OAUTHBEARER")) caps.authOAuthBearer = true;
        }
    }
    return caps;
}

std::string_view smtpStageDescription(SmtpStage stage) {
    return kStages[static_cast<std::size_t>(stage)].description;
}

SmtpTimeouts SmtpTimeouts::defaults() {
    SmtpTimeouts t;
    for (std::size_t i = 0; i < kSmtpStageCount; ++i) t.limit[i] = kStages[i].timeout;
    return t;
}

SmtpTimeouts SmtpTimeouts::uniform(std::chrono::milliseconds each) {
    SmtpTimeouts t;
    t.limit.fill(each);
    return t;
}

SmtpSecurityOptions relaySecurity(const DeliverySettings& settings) {
    SmtpSecurityOptions o;
    switch (settings.security) {
        case ConnectionSecurity::None:
            o.mode = SmtpSecurity::None;
            break;
        case ConnectionSecurity::StartTls:
            o.mode = SmtpSecurity::StartTls;
            break;
        case ConnectionSecurity::Tls:
            o.mode = SmtpSecurity::Tls;
            break;
    }
    o.verifyCert = settings.verifyCert;
    return o;
}

SmtpSecurityOptions mxSecurity(bool startTls) {
    SmtpSecurityOptions o;
    o.mode = startTls ? SmtpSecurity::Opportunistic : SmtpSecurity::None;
    o.verifyCert = false;
    return o;
}

SmtpClient::SmtpClient(std::string server, int port) : server_(std::move(server)), port_(port) {}

SmtpClient::~SmtpClient() {
    disconnect();
    wipeSecret(password_);
    wipeSecret(userName_);
}

void SmtpClient::setServer(std::string server, int port) {
    if (server.empty()) return;
    server_ = std::move(server);
    port_ = port;
}

void SmtpClient::setCredentials(bool authenticate, std::string_view userName,
                                std::string_view password) {
    wipeSecret(userName_);
    wipeSecret(password_);
    authenticate_ = authenticate;
    userName_ = userName;
    password_ = password;
}

void SmtpClient::setLogSink(int slot, SendLogBuffer* log) {
    if (!log) return;
    log_ = log;
    slot_ = slot;
}

void SmtpClient::echo(std::string_view text) {
    if (!log_) return;
    std::string line = printable(text);
    line += '\n';
    log_->append(slot_, line);
}

bool SmtpClient::fail(SmtpFailure kind, SmtpStage stage, std::string text, bool echoIt) {
    failure_ = kind;
    failedStage_ = stage;
    lastError_ = std::move(text);
    if (echoIt) echo(lastError_);
    return false;
}

void SmtpClient::clearFailure() {
    failure_ = SmtpFailure::None;
    failedStage_ = SmtpStage::Connect;
    replyCode_ = 0;
    refusalLine_.clear();
}

void SmtpClient::closeConnection() {
    stream_.close();
    reader_.clear();
    needsReset_ = false;
}

void SmtpClient::abandon(bool sayQuit) {
    if (sayQuit && stream_.isOpen()) {
        // Whatever is still buffered belongs to the reply that went wrong.
        reader_.clear();
        const auto limit = timeouts_[SmtpStage::Quit];
        if (stream_.sendAll("QUIT\r\n", limit) == StreamResult::Ok) {
            SmtpReply reply;
            auto deadline = std::chrono::steady_clock::now() + limit;
            char buffer[512];
            while (reader_.next(reply) != SmtpReplyReader::Status::Complete) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                std::size_t n = 0;
                if (left.count() <= 0 ||
                    stream_.receive(buffer, sizeof buffer, n, left) != StreamResult::Ok)
                    break;
                reader_.feed(std::string_view(buffer, n));
            }
            if (!reply.lines.empty()) echo(reply.firstLine());
        }
    }
    closeConnection();
}

bool SmtpClient::failStream(SmtpStage stage, StreamResult result) {
    std::string_view where = smtpStageDescription(stage);
    SmtpFailure kind = SmtpFailure::SocketError;
    std::string text;
    if (result == StreamResult::TimedOut) {
        kind = SmtpFailure::TimedOut;
        text = "Timed out " + std::string(where);
    } else if (result == StreamResult::Closed) {
        kind = SmtpFailure::ConnectionLost;
        text = "Lost connection " + std::string(where);
    } else {
        text = "Socket Error " + std::string(where) + " (" + stream_.lastError() + ")";
    }
    // The session is unusable after any of these; a closed stream is how later calls know.
    abandon(false);
    return fail(kind, stage, std::move(text));
}

bool SmtpClient::sendCommand(SmtpStage stage, std::string_view command) {
    StreamResult r = stream_.sendAll(command, timeouts_[stage]);
    return r == StreamResult::Ok || failStream(stage, r);
}

bool SmtpClient::readReply(SmtpStage stage, SmtpReply& reply) {
    reply = SmtpReply{};
    auto deadline = std::chrono::steady_clock::now() + timeouts_[stage];
    char buffer[4096];
    while (reader_.next(reply) != SmtpReplyReader::Status::Complete) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return failStream(stage, StreamResult::TimedOut);
        std::size_t n = 0;
        // Read first, wait only when nothing is there: on loopback most replies have arrived by
        // the time they are read (500 messages: 3,500 replies in 4,437 reads and 1,437 waits;
        // waiting first took 4,000 waits and 3,500 reads).
        StreamResult r = stream_.receive(buffer, sizeof buffer, n, left);
        if (r != StreamResult::Ok) return failStream(stage, r);
        reader_.feed(std::string_view(buffer, n));
    }
    if (observer_) observer_(reply);
    return true;
}

bool SmtpClient::check(SmtpStage stage, Row row, SmtpReply& reply) {
    static_assert(std::size(kRows) == static_cast<std::size_t>(Row::Bye221) + 1,
                  "one row per reply expectation");
    if (!readReply(stage, reply)) return false;
    echo(reply.firstLine());
    const RowInfo& want = kRows[static_cast<int>(row)];
    if (reply.wellFormed() && reply.code == want.code) return true;
    // After the end of the data only 250 (taken) and 4xx or 5xx (not taken) say what became of
    // the message; any other answer leaves it unknown, as a garbled one does.
    const bool refusal = reply.wellFormed() &&
                         (stage != SmtpStage::EndOfData || (reply.code >= 400 && reply.code < 600));
    if (!refusal) {
        replyCode_ = 0;
        fail(SmtpFailure::Malformed, stage,
             "Malformed reply " + std::string(smtpStageDescription(stage)), false);
        // Out of step with the server: nothing it says later can be matched to a command.
        abandon(stage != SmtpStage::Quit);
        return false;
    }
    replyCode_ = reply.code;
    refusalLine_ = printable(reply.firstLine());
    return fail(SmtpFailure::Refused, stage,
                std::to_string(reply.code) + ":" + std::string(want.text), false);
}

bool SmtpClient::hello(std::string_view verb, SmtpReply& reply) {
    // Whatever was offered before this greeting (before TLS, say) no longer holds.
    capabilities_ = {};
    if (!sendCommand(SmtpStage::Helo, std::string(verb) + " \r\n")) return false;
    if (check(SmtpStage::Helo, Row::Ok250, reply)) {
        if (verb == "EHLO") capabilities_ = SmtpCapabilities::fromEhloReply(reply);
        return true;
    }
    // Servers that insist on an argument say 501; anything else is a real refusal.
    if (!stream_.isOpen() || reply.code != 501) return false;
    if (hasLineBreak(helloDomain_))
        return fail(SmtpFailure::BadArgument, SmtpStage::Helo, "Line break in the hello domain");
    if (!sendCommand(SmtpStage::Helo, std::string(verb) + " " + helloDomain_ + "\r\n"))
        return false;
    if (!check(SmtpStage::Helo, Row::Ok250, reply)) return false;
    if (verb == "EHLO") capabilities_ = SmtpCapabilities::fromEhloReply(reply);
    return true;
}

bool SmtpClient::startTlsNow(bool verify) {
    TlsOptions options{verify, security_.caFile};
    StreamResult r = stream_.startTls(server_, options, timeouts_[SmtpStage::Tls]);
    if (r == StreamResult::Ok) return true;
    if (r == StreamResult::TimedOut) return failStream(SmtpStage::Tls, r);
    std::string text = "Cannot start TLS: " + stream_.lastError();
    abandon(false);  // a half-made TLS session carries nothing more
    return fail(SmtpFailure::Tls, SmtpStage::Tls, std::move(text));
}

bool SmtpClient::helloPhase(bool& ehloDone) {
    SmtpReply reply;
    const SmtpSecurity mode = security_.mode;
    if (mode == SmtpSecurity::None && !pipeliningAllowed_) return hello("HELO", reply);

    if (!hello("EHLO", reply)) {
        // A server that knows no EHLO still takes mail, unless TLS was required through it.
        if (!stream_.isOpen() || failure_ != SmtpFailure::Refused || mode == SmtpSecurity::StartTls)
            return false;
        return hello("HELO", reply);
    }
    ehloDone = true;
    if (mode != SmtpSecurity::StartTls && mode != SmtpSecurity::Opportunistic) return true;

    if (!capabilities_.startTls) {
        if (mode == SmtpSecurity::Opportunistic) return true;
        return fail(SmtpFailure::Tls, SmtpStage::Tls,
                    "STARTTLS required but not offered by the server");
    }
    if (!sendCommand(SmtpStage::Tls, "STARTTLS\r\n")) return false;
    SmtpReply tlsReply;
    const std::string before = lastError_;
    if (!check(SmtpStage::Tls, Row::Ready220, tlsReply)) {
        if (!stream_.isOpen()) return false;
        if (mode == SmtpSecurity::Opportunistic) {
            // Not a failure: the session goes on in plain text.
            lastError_ = before;
            clearFailure();
            return true;
        }
        return fail(SmtpFailure::Tls, SmtpStage::Tls,
                    "STARTTLS refused by the server (" + std::to_string(tlsReply.code) + ")");
    }
    // Bytes that arrived before the handshake were sent in clear text and could be injected by
    // anyone on the path; they must not be read as if they came through TLS.
    if (reader_.hasPendingInput()) {
        abandon(false);
        return fail(SmtpFailure::Tls, SmtpStage::Tls, "Unexpected data after the STARTTLS reply");
    }
    if (!startTlsNow(mode == SmtpSecurity::StartTls && security_.verifyCert)) return false;
    return hello("EHLO", reply);
}

bool SmtpClient::authenticate(bool needEhlo) {
    SmtpReply reply;
    if (needEhlo && !hello("EHLO", reply)) return false;
    if (login_ == SmtpLogin::OAuthToken) {
        // Separators of the mechanisms: a name or token holding one would change the message.
        if (userName_.find_first_of(std::string_view("\x01\0", 2)) != std::string::npos ||
            password_.find_first_of(std::string_view("\x01\0", 2)) != std::string::npos)
            return false;
        std::string response;
        if (capabilities_.authOAuthBearer && !capabilities_.authXoauth2) {
            // RFC 7628: a GS2 header naming the user ("," and "=" escaped), host, port, token.
            std::string user;
            for (char c : userName_) {
                if (c == ',')
                    user += "=2C";
                else if (c == '=')
                    user += "=3D";
                else
                    user += c;
            }
            response = "n,a=" + user + ",\x01host=" + server_ +
                       "\x01port=" + std::to_string(port_) +
                       "\x01"
                       "auth=Bearer " +
                       password_ + "\x01\x01";
            wipeSecret(user);
            return authToken("OAUTHBEARER", std::move(response), "AQ==");
        }
        // "\x01" "auth" apart: written as one, the hex escape would swallow the "a".
        response = "user=" + userName_ +
                   "\x01"
                   "auth=Bearer " +
                   password_ + "\x01\x01";
        return authToken("XOAUTH2", std::move(response), "");
    }
    return capabilities_.authPlain ? authPlain() : authLogin();
}

bool SmtpClient::authToken(std::string_view mechanism, std::string response,
                           std::string_view errorAnswer) {
    std::string line = "AUTH " + std::string(mechanism) + " " + base64Encode(response) + "\r\n";
    wipeSecret(response);
    bool sent = sendCommand(SmtpStage::Auth, line);
    wipeSecret(line);
    SmtpReply reply;
    if (!sent || !readReply(SmtpStage::Auth, reply)) return false;
    echo(reply.firstLine());
    if (reply.code == 235) return true;
    if (reply.code != 334) return false;
    // The error report: the exchange ends with the answer the mechanism gives it, then the
    // server's final refusal, so the session stays in step.
    if (!sendCommand(SmtpStage::Auth, std::string(errorAnswer) + "\r\n") ||
        !readReply(SmtpStage::Auth, reply))
        return false;
    echo(reply.firstLine());
    return false;
}

bool SmtpClient::authPlain() {
    // The mechanism cannot carry a NUL inside a name or password: the server would split there.
    if (userName_.find('\0') != std::string::npos || password_.find('\0') != std::string::npos)
        return false;
    std::string token;
    token.reserve(userName_.size() + password_.size() + 2);
    token += '\0';
    token += userName_;
    token += '\0';
    token += password_;
    std::string encoded = base64Encode(token);
    wipeSecret(token);
    std::string line;
    line.reserve(encoded.size() + 13);
    line += "AUTH PLAIN ";
    line += encoded;
    line += "\r\n";
    wipeSecret(encoded);
    bool sent = sendCommand(SmtpStage::Auth, line);
    wipeSecret(line);
    SmtpReply reply;
    if (!sent || !readReply(SmtpStage::Auth, reply)) return false;
    echo(reply.firstLine());
    return reply.code == 235;
}

bool SmtpClient::authLogin() {
    SmtpReply reply;
    if (!sendCommand(SmtpStage::Auth, "AUTH LOGIN\r\n")) return false;
    if (!readReply(SmtpStage::Auth, reply)) return false;
    echo(reply.firstLine());
    // 502: the server has no AUTH; the session goes on unauthenticated.
    if (reply.code == 502) return true;
    if (reply.code != 334) return false;

    std::string line = base64Encode(userName_) + "\r\n";
    bool sent = sendCommand(SmtpStage::Auth, line);
    wipeSecret(line);
    if (!sent || !readReply(SmtpStage::Auth, reply)) return false;
    echo(reply.firstLine());
    if (reply.code != 334) return false;

    line = base64Encode(password_) + "\r\n";
    sent = sendCommand(SmtpStage::Auth, line);
    wipeSecret(line);
    if (!sent || !readReply(SmtpStage::Auth, reply)) return false;
    echo(reply.firstLine());
    return reply.code == 235;
}

bool SmtpClient::connect() {
    if (connected_) return true;
    clearFailure();
    closeConnection();
    capabilities_ = {};
    StreamResult r = stream_.connect(server_, port_, timeouts_[SmtpStage::Connect]);
    if (r == StreamResult::TimedOut) return failStream(SmtpStage::Connect, r);
    if (r != StreamResult::Ok)
        return fail(SmtpFailure::NoConnection, SmtpStage::Connect, std::string(kNoConnect));
    if (security_.mode == SmtpSecurity::Tls && !startTlsNow(security_.verifyCert)) return false;

    SmtpReply greeting;
    if (!check(SmtpStage::Greeting, Row::Ready220, greeting)) {
        // A stream failure has named its stage already; a wrong or garbled greeting has not.
        if (failure_ == SmtpFailure::Refused || failure_ == SmtpFailure::Malformed) {
            failure_ = SmtpFailure::NoGreeting;
            lastError_ = kNoGreeting;
        }
        abandon();
        return false;
    }
    bool ehloDone = false;
    if (!helloPhase(ehloDone)) {
        abandon();
        return false;
    }
    // A password never goes out in clear text when the user chose an encrypted connection; the
    // steps above fail before this point, and this keeps it so whatever they become.
    const bool tlsChosen =
        security_.mode == SmtpSecurity::StartTls || security_.mode == SmtpSecurity::Tls;
    if (authenticate_ && tlsChosen && !stream_.isTls()) {
        fail(SmtpFailure::Tls, SmtpStage::Auth, "No TLS before authentication");
        abandon();
        return false;
    }
    if (authenticate_ && !authenticate(!ehloDone)) {
        // A time-out or lost connection is not a wrong password: the engine must not stop the
        // run as if the account were refused.
        if (stream_.isOpen()) {
            failure_ = SmtpFailure::AuthFailed;
            failedStage_ = SmtpStage::Auth;
            lastError_ = kAuthFailed;
        }
        abandon();
        return false;
    }
    connected_ = true;
    return true;
}

const std::vector<DataPiece>& SmtpClient::bodyOf(const SmtpMessage& message,
                                                 std::vector<DataPiece>& whole) {
    if (!message.bodyPieces.empty()) return message.bodyPieces;
    whole = {{message.body, false}};
    return whole;
}

bool SmtpClient::sendBody(std::string_view headerBlock, const std::vector<DataPiece>& pieces) {
    constexpr std::size_t kChunk = 64 * 1024;
    const auto limit = timeouts_[SmtpStage::DataTransfer];
    // A write that fails has not delivered all of its bytes, so the end-of-data line cannot have
    // reached the server complete.
    StreamResult result = StreamResult::Ok;
    streamMessageData(headerBlock, pieces, kChunk, [&](std::string_view block) {
        result = stream_.sendAll(block, limit);
        return result == StreamResult::Ok;
    });
    return result == StreamResult::Ok || failStream(SmtpStage::DataTransfer, result);
}

bool SmtpClient::reset() {
    if (!connected_) {
        clearFailure();
        return fail(SmtpFailure::NotConnected, SmtpStage::Rset, std::string(kMustBeConnected));
    }
    if (!stream_.isOpen()) return false;  // the session broke earlier; lastError says how
    if (!needsReset_) return true;
    clearFailure();
    SmtpReply reply;
    if (!sendCommand(SmtpStage::Rset, "RSET\r\n") || !check(SmtpStage::Rset, Row::Ok250, reply)) {
        // A server that will not reset is in a state nobody knows; MAIL would meet it there.
        abandon();
        return false;
    }
    needsReset_ = false;
    return true;
}

bool SmtpClient::sendMessage(const SmtpMessage& message) {
    if (!connected_) {
        clearFailure();
        return fail(SmtpFailure::NotConnected, SmtpStage::Mail, std::string(kMustBeConnected));
    }
    // The session broke in an earlier call; its failure and text say how.
    if (!stream_.isOpen()) return false;
    clearFailure();
    // A line break inside an argument would let the text inject commands of its own.
    if (hasLineBreak(message.sender))
        return fail(SmtpFailure::BadArgument, SmtpStage::Mail, "Line break in the sender address");
    for (auto rcpt : message.recipients)
        if (hasLineBreak(rcpt))
            return fail(SmtpFailure::BadArgument, SmtpStage::Rcpt,
                        "Line break in a recipient address");
    // Real servers answer MAIL inside a transaction with 503, and that would hide the refusal
    // that matters: an open transaction is ended with RSET first (in the group when pipelined).
    if (pipeliningAllowed_ && capabilities_.pipelining && message.recipients.size() == 1)
        return sendPipelined(message);
    if (!reset()) return false;

    SmtpReply reply;
    needsReset_ = true;
    if (!sendCommand(SmtpStage::Mail, "MAIL From: " + std::string(message.sender) + "\r\n") ||
        !check(SmtpStage::Mail, Row::Ok250, reply))
        return false;
    for (auto rcpt : message.recipients) {
        if (!sendCommand(SmtpStage::Rcpt, "RCPT TO: <" + std::string(rcpt) + ">\r\n") ||
            !check(SmtpStage::Rcpt, Row::Ok250, reply))
            return false;
    }
    if (!sendCommand(SmtpStage::Data, "DATA\r\n") || !check(SmtpStage::Data, Row::Data354, reply))
        return false;
    return sendDataAndFinish(message);
}

bool SmtpClient::sendDataAndFinish(const SmtpMessage& message) {
    SmtpReply reply;
    std::vector<DataPiece> whole;
    if (!sendBody(message.headerBlock, bodyOf(message, whole)) ||
        !check(SmtpStage::EndOfData, Row::Ok250, reply))
        return false;
    needsReset_ = false;
    return true;
}

bool SmtpClient::disconnect() {
    if (!connected_) return true;
    connected_ = false;
    if (!stream_.isOpen()) return true;  // nothing left to end
    clearFailure();
    SmtpReply reply;
    bool ok =
        sendCommand(SmtpStage::Quit, "QUIT\r\n") && check(SmtpStage::Quit, Row::Bye221, reply);
    closeConnection();
    return ok;
}

}  // namespace qm
