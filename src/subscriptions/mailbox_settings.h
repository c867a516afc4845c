// The stored account of the unsubscribe mailbox, its scrambled password, AutoUnsubscribe, and the
// checks of the "Change Username/Password " screen.
//
// Entry points: readMailboxSettings(), saveMailboxSettings() (what "Remember my POP3 settings"
// and every Retrieve do), scramblePassword() / unscramblePassword(), checkPasswordChange(),
// parsePop3Security() / pop3SecurityName().
//
// Scrambling: each byte of the password is written as its code in base 7 (digits "0" to "6", most
// significant first) followed by one or two filler letters from a pseudo-random number, so the
// stored text changes from one save to the next. Reading back takes the digits before each run of
// lowercase letters as one code (modulo 256); values stored by any earlier version read back by
// that rule alone. This hides the password from a glance at the file, nothing more: the settings
// file itself is mode 0600.
//
// Failure: reads never fail (missing values give the defaults); writes return false plus the
// settings store's text. checkPasswordChange() returns a status, the fixed text and the field to
// focus.
// Limits: the settings keys' capacities (config/settings.h).
// Threads: any.
// Standard: none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "subscriptions/pop3_client.h"

namespace qm {

class SettingsStore;

struct MailboxSettings {
    std::string user;
    std::string password;  // plain
    std::string server;
    int port = Pop3Client::kDefaultPort;
    Pop3Security security = Pop3Security::None;
    bool verifyCert = true;
    bool remember = false;
};

// "none", "stls", "tls" (also "starttls"); false for anything else.
bool parsePop3Security(std::string_view text, Pop3Security& out);
std::string_view pop3SecurityName(Pop3Security security);

// With `remember` off only the connection security and port are filled from the store.
MailboxSettings readMailboxSettings(const SettingsStore& store);
// Remember on: writes ID, Pass (scrambled), MailServer, port, security, verification and Rem "y".
// Remember off: writes only Rem "n".
bool saveMailboxSettings(SettingsStore& store, const MailboxSettings& settings,
                         std::string* error = nullptr);

std::string scramblePassword(std::string_view password, std::uint32_t seed);
// Seeded with the current time in seconds times the first byte's code.
std::string scramblePassword(std::string_view password);
std::string unscramblePassword(std::string_view stored);

enum class PasswordChangeStatus {
    Ok,
    UserEmpty,
    OldEmpty,
    OldWrong,
    NewEmpty,
    ConfirmEmpty,
    ConfirmDiffers,
};
enum class PasswordField { None, User, Old, New, Confirm };

struct PasswordChangeCheck {
    PasswordChangeStatus status = PasswordChangeStatus::Ok;
    std::string message;
    PasswordField focus = PasswordField::None;
    bool ok() const { return status == PasswordChangeStatus::Ok; }
};

// The four inputs are trimmed before the checks; `storedPass` is the stored (scrambled) value.
PasswordChangeCheck checkPasswordChange(std::string_view user, std::string_view oldPassword,
                                        std::string_view newPassword, std::string_view confirm,
                                        std::string_view storedPass);
// Writes ID and the scrambled new password (both trimmed).
bool applyPasswordChange(SettingsStore& store, std::string_view user, std::string_view newPassword,
                         std::string* error = nullptr);

}  // namespace qm
