#include "delivery/delivery_settings.h"

#include <cstdio>

#include "config/settings.h"

namespace qm {

namespace {

constexpr std::string_view kRangeMessage = "Please enter an integer between %1 and %2.";

std::string rangeMessage(int low, int high) {
    std::string text(kRangeMessage);
    text.replace(text.find("%1"), 2, std::to_string(low));
    text.replace(text.find("%2"), 2, std::to_string(high));
    return text;
}

}  // namespace

std::string_view securityName(ConnectionSecurity security) {
    switch (security) {
        case ConnectionSecurity::StartTls:
            return "starttls";
        case ConnectionSecurity::Tls:
            return "tls";
        case ConnectionSecurity::None:
            break;
    }
    return "none";
}

ConnectionSecurity parseSecurity(std::string_view text) {
    if (text == "starttls") return ConnectionSecurity::StartTls;
    if (text == "tls") return ConnectionSecurity::Tls;
    return ConnectionSecurity::None;
}

std::string_view mxOrderName(MxOrder order) {
    return order == MxOrder::ByPreference ? "preference" : "answer";
}

MxOrder parseMxOrder(std::string_view text) {
    return text == "preference" ? MxOrder::ByPreference : MxOrder::AsAnswered;
}

std::string_view relayLoginName(RelayLogin login) {
    return login == RelayLogin::OAuthCommand ? "oauth" : "password";
}

RelayLogin parseRelayLogin(std::string_view text) {
    return text == "oauth" ? RelayLogin::OAuthCommand : RelayLogin::Password;
}

std::string authFailedText(const DeliverySettings& s) {
    if (s.login != RelayLogin::OAuthCommand) return "Authentication Failed";
    return "Authentication Failed: the server refused the OAuth 2 token printed by the token "
           "command \"" +
           s.tokenCommand + "\".";
}

unsigned parsePort(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    unsigned long value = 0;
    bool any = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        any = true;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > 0xFFFFFFFFul) value = 0xFFFFFFFFul;
    }
    return any ? static_cast<unsigned>(value) : kDefaultSmtpPort;
}

int parsePerConnection(std::string_view text) {
    int value = 0;
    if (text.empty() || text.size() > 4) return kMinPerConnection;
    for (char c : text) {
        if (c < '0' || c > '9') return kMinPerConnection;
        value = value * 10 + (c - '0');
    }
    return value >= kMinPerConnection && value <= kMaxPerConnection ? value : kMinPerConnection;
}

DeliverySettings loadDeliverySettings(const SettingsStore& store) {
    DeliverySettings s;
    s.mxOrder = parseMxOrder(store.read(keys::kMxOrder));
    if (!store.hasSubkey(keys::kSmtpServer.subkey)) return s;
    s.server = store.read(keys::kSmtpServer);
    s.mxMode = s.server.empty();
    s.port = parsePort(store.read(keys::kSmtpPort));
    s.authenticate = store.read(keys::kSmtpAuth) == "y";
    s.userName = store.read(keys::kSmtpUser);
    s.password = store.read(keys::kSmtpPassword);
    // A one-character leftover in both fields is not an account worth showing.
    if (s.userName.size() <= 1 && s.password.size() <= 1) {
        s.userName.clear();
        s.password.clear();
    }
    s.login = parseRelayLogin(store.read(keys::kSmtpLogin));
    s.tokenCommand = store.read(keys::kSmtpTokenCommand);
    s.security = parseSecurity(store.read(keys::kSmtpSecurity));
    s.verifyCert = store.readFlag(keys::kSmtpVerifyCert);
    s.perConnection = parsePerConnection(store.read(keys::kSmtpPerConnection));
    s.rate = parseSendRate(store.read(keys::kSmtpRate)).value_or(SendRate{});
    return s;
}

void saveDeliverySettings(SettingsStore& store, const DeliverySettings& s) {
    store.write(keys::kSmtpServer, s.mxMode ? std::string() : s.server);
    char port[16];
    std::snprintf(port, sizeof port, "%u", s.port);
    store.write(keys::kSmtpPort, port);
    store.write(keys::kMxOrder, mxOrderName(s.mxOrder));
    // Exchangers keep sessions too, so the count is stored in both modes.
    store.write(keys::kSmtpPerConnection, std::to_string(s.perConnection));
    store.write(keys::kSmtpRate, sendRateText(s.rate));
    if (s.mxMode) return;
    store.writeFlag(keys::kSmtpAuth, s.authenticate);
    store.write(keys::kSmtpUser, s.authenticate ? s.userName : std::string());
    const bool token = s.login == RelayLogin::OAuthCommand;
    // A token lives for one run; only a password is kept.
    store.write(keys::kSmtpPassword, s.authenticate && !token ? s.password : std::string());
    store.write(keys::kSmtpLogin, relayLoginName(s.login));
    store.write(keys::kSmtpTokenCommand, s.tokenCommand);
    store.write(keys::kSmtpSecurity, securityName(s.security));
    store.writeFlag(keys::kSmtpVerifyCert, s.verifyCert);
}

CountCheck checkCounts(int threadCount, int waitSeconds) {
    CountCheck check{"", threadCount, waitSeconds};
    bool threadsBad = threadCount < kMinThreads || threadCount > kMaxThreads;
    bool waitBad = waitSeconds < kMinWait || waitSeconds > kMaxWait;
    if (threadsBad) {
        check.message = rangeMessage(kMinThreads, kMaxThreads);
        check.threadCount = 1;
    }
    if (waitBad) {
        if (check.message.empty()) check.message = rangeMessage(kMinWait, kMaxWait);
        check.waitSeconds = 1;
    }
    return check;
}

unsigned defaultPort(ConnectionSecurity security) {
    switch (security) {
        case ConnectionSecurity::StartTls:
            return 587;
        case ConnectionSecurity::Tls:
            return 465;
        case ConnectionSecurity::None:
            break;
    }
    return kDefaultSmtpPort;
}

unsigned portForSecurity(unsigned port, ConnectionSecurity from, ConnectionSecurity to) {
    return port == defaultPort(from) ? defaultPort(to) : port;
}

FieldStates fieldStates(const DeliverySettings& s) {
    FieldStates f;
    f.server = !s.mxMode;
    f.credentials = !s.mxMode && s.authenticate;
    f.password = f.credentials && s.login == RelayLogin::Password;
    f.tokenCommand = f.credentials && s.login == RelayLogin::OAuthCommand;
    f.verifyCert = !s.mxMode && s.security != ConnectionSecurity::None;
    f.launchTime = !s.startNow;
    return f;
}

}  // namespace qm
