// The delivery settings of the "SMTP Settings" tab as one record, and the rules the tab follows:
// loading from and saving to the settings store, the range check of the thread and wait counts,
// the port that follows the connection security, and which fields are editable.
//
// Entry points: loadDeliverySettings(), saveDeliverySettings(), checkCounts(),
// portForSecurity(), fieldStates().
//
// Contract: loading never fails (a missing key or value falls back to its default); saving writes
// what the tab shows, once, when the window closes, and ignores write failures as every settings
// writer does. The relay-only values (authentication, user, password, security) are written only
// in SMTP mode, so choosing MX mode for a while does not forget the relay account. Nothing here
// shows a message: checkCounts() returns the text for the screen to show.
#pragma once

#include <string>
#include <string_view>

#include "delivery/send_pace.h"

namespace qm {

class SettingsStore;

enum class ConnectionSecurity { None, StartTls, Tls };

// Which exchanger of a domain MX delivery uses: the first MX record as the DNS server answered
// (the default), or every exchanger by preference with the next one tried when a connection
// fails, as mail servers deliver.
enum class MxOrder { AsAnswered, ByPreference };

// How an authenticating relay account logs in: with its password, or with an OAuth 2 access token
// that the user's "Token command" prints (delivery/token_command.h), fetched when a run starts.
enum class RelayLogin { Password, OAuthCommand };

inline constexpr int kMinThreads = 1;
inline constexpr int kMaxThreads = 15;
inline constexpr int kMinWait = 0;
inline constexpr int kMaxWait = 5;
inline constexpr int kMinPerConnection = 1;
inline constexpr int kMaxPerConnection = 1000;
inline constexpr unsigned kDefaultSmtpPort = 25;
inline constexpr std::size_t kMaxServerLength = 100;

struct DeliverySettings {
    bool mxMode = true;
    std::string server;
    unsigned port = kDefaultSmtpPort;
    bool authenticate = false;
    std::string userName;
    std::string password;  // with OAuthCommand: the run's access token, never stored
    RelayLogin login = RelayLogin::Password;
    std::string tokenCommand;
    ConnectionSecurity security = ConnectionSecurity::None;
    bool verifyCert = true;
    MxOrder mxOrder = MxOrder::AsAnswered;
    int threadCount = 1;
    int waitSeconds = 1;
    bool startNow = true;
    // Messages one sending thread sends over one session; 1 is a connection per recipient.
    int perConnection = 1;
    SendRate rate;  // "At most N messages per minute/hour"; stored, in both delivery modes
};

// The stored spelling of a security choice ("none", "starttls", "tls") and back; an unknown or
// empty text is "none", so settings written before the choice existed behave as before.
std::string_view securityName(ConnectionSecurity security);
ConnectionSecurity parseSecurity(std::string_view text);
// "answer" and "preference" and back; anything else is "answer", the order used before the choice.
std::string_view mxOrderName(MxOrder order);
MxOrder parseMxOrder(std::string_view text);
// "password" and "oauth" and back; anything else is "password".
std::string_view relayLoginName(RelayLogin login);
RelayLogin parseRelayLogin(std::string_view text);

// The text of a refused login: the fixed "Authentication Failed" for a password; for a token,
// the refusal naming the token command that printed it.
std::string authFailedText(const DeliverySettings& settings);

// The tab as the stored settings leave it; the counts and launch fields keep their defaults
// because they are not stored.
DeliverySettings loadDeliverySettings(const SettingsStore& store);
void saveDeliverySettings(SettingsStore& store, const DeliverySettings& settings);

// The stored "Messages per connection"; anything but a number in range is 1.
int parsePerConnection(std::string_view text);

// Decimal conversion of a stored or typed port; no digits at all gives the default port.
unsigned parsePort(std::string_view text);

struct CountCheck {
    std::string message;  // empty when both counts are in range
    int threadCount;
    int waitSeconds;
};
// The check made on every change of the port, thread or wait field: the first count out of range
// names its bounds in the message, and each count out of range is replaced by 1.
CountCheck checkCounts(int threadCount, int waitSeconds);

// The well-known port of a security choice: 25, 587 or 465.
unsigned defaultPort(ConnectionSecurity security);
// The port after the security choice changes from `from` to `to`: it follows the choice while it
// is still the default of the old choice; a port the user typed is kept.
unsigned portForSecurity(unsigned port, ConnectionSecurity from, ConnectionSecurity to);

struct FieldStates {
    bool server = false;        // server, port, security and the authentication choice
    bool credentials = false;   // user name and the login choice
    bool password = false;      // the password (a password login)
    bool tokenCommand = false;  // the token command (an OAuth 2 login)
    bool verifyCert = false;
    bool launchTime = false;  // date, time and repetition
};
FieldStates fieldStates(const DeliverySettings& settings);

}  // namespace qm
