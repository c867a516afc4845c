// SmtpClient's pipelined transaction (RFC 2920): one write for RSET, MAIL, RCPT and DATA, then
// their replies in order. Kept apart from the lock-step conversation in smtp_client.cpp so each
// reads as one path.
//
// Entry points: SmtpClient::sendPipelined (through sendMessage when pipelining is allowed and
// offered), SmtpClient::closedByServer.
//
// Failure: as in lock-step, the first refused command is the message's failure, with the same
// text, kind, stage and reply code; every later reply of the group is still read and logged so
// the next command meets a server in a known state. A 354 after a refused MAIL or RCPT gets a
// lone "." and never the message (RFC 2920 section 3.1), so an empty message cannot reach anyone.
// A garbled reply or a lost connection anywhere in the group ends the session (no QUIT: the
// server may be inside DATA, where QUIT would be message text); a 421 ends it as the server
// asked. A refused RSET ends it too, as it does in lock-step.
//
// Limits: one recipient per group (sendMessage sends longer lists one step at a time); each
// reply waits at most its stage's time-out.
//
// Threads: the client's own thread.
//
// Standard: RFC 2920 (PIPELINING), RFC 5321.
#include <optional>

#include "delivery/smtp_client.h"

namespace qm {

bool SmtpClient::closedByServer(const SmtpReply& reply) {
    if (reply.code != 421) return false;
    // RFC 5321 section 3.8: the server closes after 421; a QUIT would only wait for nothing.
    closeConnection();
    return true;
}

bool SmtpClient::sendPipelined(const SmtpMessage& message) {
    const bool withReset = needsReset_;
    const std::string_view rcpt = message.recipients.front();
    std::string group;
    group.reserve(48 + message.sender.size() + rcpt.size());
    if (withReset) group += "RSET\r\n";
    group += "MAIL From: ";
    group += message.sender;
    group += "\r\nRCPT TO: <";
    group += rcpt;
    group += ">\r\nDATA\r\n";
    needsReset_ = true;
    if (!sendCommand(SmtpStage::Mail, group)) return false;

    struct Refusal {
        SmtpFailure failure;
        SmtpStage stage;
        std::string text;
        int code;
    };
    std::optional<Refusal> first;
    auto keepFirst = [&] {
        if (!first) first = Refusal{failure_, failedStage_, lastError_, replyCode_};
    };
    // Whatever came later (a 554 to DATA, a lost connection), the refusal that came first is
    // what the message met.
    auto firstRefusal = [&] {
        if (first) {
            failure_ = first->failure;
            failedStage_ = first->stage;
            lastError_ = first->text;
            replyCode_ = first->code;
        }
        return false;
    };

    SmtpReply reply;
    if (withReset && !check(SmtpStage::Rset, Row::Ok250, reply)) {
        // The rest of the group met a server in a state nobody knows.
        abandon(false);
        return false;
    }
    if (!check(SmtpStage::Mail, Row::Ok250, reply)) {
        if (!stream_.isOpen() || closedByServer(reply)) return firstRefusal();
        keepFirst();
    }
    if (!check(SmtpStage::Rcpt, Row::Ok250, reply)) {
        if (!stream_.isOpen() || closedByServer(reply)) return firstRefusal();
        keepFirst();
    }
    const bool dataAccepted = check(SmtpStage::Data, Row::Data354, reply);
    if (!stream_.isOpen() || (!dataAccepted && closedByServer(reply))) return firstRefusal();
    if (dataAccepted && first) {
        // Nobody to deliver to: an empty message ends the data phase, its answer is only logged.
        if (sendCommand(SmtpStage::Data, ".\r\n") && readReply(SmtpStage::Data, reply)) {
            echo(reply.firstLine());
            if (!reply.wellFormed() || reply.code == 421) closeConnection();
        }
        return firstRefusal();
    }
    if (!dataAccepted) return firstRefusal();

    return sendDataAndFinish(message);
}

}  // namespace qm
