#include "delivery/smtp_check.h"

#include "common/text.h"
#include "delivery/token_command.h"
#include "groups/address.h"

namespace qm {

std::string helloDomainFor(std::string_view given, std::string_view userName) {
    if (!given.empty()) return std::string(given);
    std::string domain(domainOf(userName));
    return domain.empty() ? "localhost" : domain;
}

SmtpCheckResult checkSmtpConnection(const SmtpCheck& check,
                                    const std::function<void(const SmtpReply&)>& observer) {
    SmtpCheckResult result;
    std::string token;
    if (check.authenticate && check.login == SmtpLogin::OAuthToken && check.password.empty()) {
        TokenResult fetched = fetchToken(check.tokenCommand);
        if (!fetched.ok) {
            result.error = fetched.error;
            return result;
        }
        token = std::move(fetched.token);
    }
    SmtpClient client(check.server, check.port);
    client.setCredentials(check.authenticate, check.userName,
                          token.empty() ? std::string_view(check.password) : token);
    wipeSecret(token);
    client.setLogin(check.login);
    client.setSecurity(check.security);
    client.setHelloDomain(check.helloDomain);
    if (observer) client.setReplyObserver(observer);
    result.ok = client.connect();
    result.tls = result.ok && client.usesTls();
    result.ok = result.ok && client.disconnect();
    if (!result.ok) result.error = client.lastError();
    if (!result.ok && client.failure() == SmtpFailure::AuthFailed &&
        check.login == SmtpLogin::OAuthToken) {
        DeliverySettings named;
        named.login = RelayLogin::OAuthCommand;
        named.tokenCommand = check.tokenCommand;
        result.error = authFailedText(named);
    }
    return result;
}

}  // namespace qm
