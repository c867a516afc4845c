// The decisions of Quillsetup, the first-run program: which fields its screen enables, what
// "Launch Quillmark" checks and writes (and in which order), what "Test connection" tries, and
// which quillmark program it starts. The screen (setup/ui/) only shows and forwards.
//
// Entry points: setupFieldStates(), saveSetupChoice(), missingForTest(), smtpCheckFor(),
// findQuillmark(), setupMessage().
//
// Failure: a missing field comes back as a SetupField for the screen to name and focus; a settings
// write that fails comes back as its one-line text, and nothing is started then.
//
// Contract: the bulk-sender profile is switched as chosen last, in both modes, once everything
// else was written. MX writes only an empty server, so the relay account survives for a later
// switch back. In relay mode the authentication values are written before the server is checked, so
// an empty server leaves them stored; the server, port and connection security are written last.
//
// Threads: any; saveSetupChoice() writes through the settings store's own locking.
#pragma once

#include <string>
#include <string_view>

#include "delivery/delivery_settings.h"
#include "delivery/smtp_check.h"

namespace qm {

class SettingsStore;

struct SetupChoice {
    bool mx = false;
    std::string server;
    unsigned port = kDefaultSmtpPort;
    ConnectionSecurity security = ConnectionSecurity::None;
    bool authenticate = true;
    std::string userName;
    std::string password;
    RelayLogin login = RelayLogin::Password;  // "Password" or "OAuth 2 token command"
    std::string tokenCommand;
    // "Follow current bulk-sender rules" (delivery/sender_profile.h), in both modes.
    bool bulkProfile = false;
};

struct SetupFieldStates {
    bool relay = false;         // server, port, security, the authentication group, Test connection
    bool credentials = false;   // user name and the login choice with their labels
    bool password = false;      // the password (a password login)
    bool tokenCommand = false;  // the token command (an OAuth 2 login)
};
SetupFieldStates setupFieldStates(const SetupChoice& choice);

// The field "Launch Quillmark" stopped at; None when everything was written.
enum class SetupField { None, UserName, Password, Server, TokenCommand };

inline constexpr std::string_view kInvalidDataTitle = "Invalid Data";
// The text of the "Invalid Data" message for a missing field (empty for None).
std::string_view setupMessage(SetupField field);

struct SetupSave {
    SetupField missing = SetupField::None;
    std::string writeError;  // first failed write; later writes are not tried
    bool launch() const { return missing == SetupField::None && writeError.empty(); }
};
SetupSave saveSetupChoice(SettingsStore& store, const SetupChoice& choice);

// What a connection test still needs, in the order "Launch Quillmark" asks for it; None in MX
// mode too (there is no relay to test, the screen keeps the button disabled).
SetupField missingForTest(const SetupChoice& choice);
SmtpCheck smtpCheckFor(const SetupChoice& choice);

// The quillmark program to start: the one in `ownFolder` (Quillsetup's own folder), else the first
// executable one on `pathVariable` (colon-separated; an empty entry is the current folder). Empty
// when there is none.
std::string findQuillmark(std::string_view ownFolder, std::string_view pathVariable);

}  // namespace qm
