// One trial conversation with an SMTP server: connect, greet (HELO/EHLO, STARTTLS and AUTH as the
// options say), QUIT. The command line's "smtp test" and Quillsetup's "Test connection" both run
// it, so a setting that passes one passes the other.
//
// Entry points: checkSmtpConnection(); helloDomainFor() for the HELO domain both callers use.
//
// Failure: a false `ok` with the client's one-line text (no secret in it); never an exception.
//
// Limits: one connection, each stage bounded by the client's time-outs.
//
// Threads: the caller's; runs for seconds, so a screen calls it off its window thread.
//
// Standard: SMTP through SmtpClient.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "delivery/smtp_client.h"

namespace qm {

struct SmtpCheck {
    std::string server;
    int port = 25;
    bool authenticate = false;
    std::string userName;
    std::string password;  // with an OAuth 2 login, the token; empty: run tokenCommand for one
    SmtpSecurityOptions security;
    std::string helloDomain;
    SmtpLogin login = SmtpLogin::Password;
    std::string tokenCommand;  // named in the text of a refused token
};

struct SmtpCheckResult {
    bool ok = false;
    bool tls = false;   // the session ran over TLS
    std::string error;  // empty when ok
};

// The domain of the user name, else "localhost", unless `given` names one.
std::string helloDomainFor(std::string_view given, std::string_view userName);

SmtpCheckResult checkSmtpConnection(const SmtpCheck& check,
                                    const std::function<void(const SmtpReply&)>& observer = {});

}  // namespace qm
