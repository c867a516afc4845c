#include "delivery/smtp_check.h"

#include "groups/address.h"

namespace qm {

std::string helloDomainFor(std::string_view given, std::string_view userName) {
    if (!given.empty()) return std::string(given);
    std::string domain(domainOf(userName));
    return domain.empty() ? "localhost" : domain;
}

SmtpCheckResult checkSmtpConnection(const SmtpCheck& check,
                                    const std::function<void(const SmtpReply&)>& observer) {
    SmtpClient client(check.server, check.port);
    client.setCredentials(check.authenticate, check.userName, check.password);
    client.setSecurity(check.security);
    client.setHelloDomain(check.helloDomain);
    if (observer) client.setReplyObserver(observer);
    SmtpCheckResult result;
    result.ok = client.connect();
    result.tls = result.ok && client.usesTls();
    result.ok = result.ok && client.disconnect();
    if (!result.ok) result.error = client.lastError();
    return result;
}

}  // namespace qm
