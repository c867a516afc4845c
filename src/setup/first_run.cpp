#include "setup/first_run.h"

#include <unistd.h>

#include <filesystem>

#include "config/settings.h"
#include "delivery/sender_profile.h"
#include "delivery/smtp_client.h"
#include "delivery/token_command.h"

namespace qm {

SetupFieldStates setupFieldStates(const SetupChoice& choice) {
    SetupFieldStates s;
    s.relay = !choice.mx;
    s.credentials = s.relay && choice.authenticate;
    s.password = s.credentials && choice.login == RelayLogin::Password;
    s.tokenCommand = s.credentials && choice.login == RelayLogin::OAuthCommand;
    return s;
}

std::string_view setupMessage(SetupField field) {
    switch (field) {
        case SetupField::UserName:
            return "Please enter the Username you want to use";
        case SetupField::Password:
            return "Please enter the Password you want to use";
        case SetupField::Server:
            return "Please enter the address of the SMTP Server you want to use";
        case SetupField::TokenCommand:
            return "Please enter the command that prints the OAuth 2 access token";
        case SetupField::None:
            break;
    }
    return {};
}

namespace {

SetupField missingCredential(const SetupChoice& c) {
    if (!c.authenticate) return SetupField::None;
    if (c.userName.empty()) return SetupField::UserName;
    if (c.login == RelayLogin::OAuthCommand)
        return splitCommandLine(c.tokenCommand) ? SetupField::None : SetupField::TokenCommand;
    if (c.password.empty()) return SetupField::Password;
    return SetupField::None;
}

}  // namespace

SetupSave saveSetupChoice(SettingsStore& store, const SetupChoice& c) {
    SetupSave save;
    auto write = [&](const SettingKey& key, std::string_view text) {
        if (save.writeError.empty()) store.write(key, text, &save.writeError);
        return save.writeError.empty();
    };
    // Last, once the delivery choice is whole: a refused launch changes no option.
    auto switchProfile = [&] {
        if (!save.writeError.empty()) return;
        switchStoredProfile(store,
                            c.bulkProfile ? SenderProfile::Current : SenderProfile::AsSpecified,
                            &save.writeError);
    };
    if (c.mx) {
        write(keys::kSmtpServer, "");
        switchProfile();
        return save;
    }
    save.missing = missingCredential(c);
    if (save.missing != SetupField::None) return save;
    const bool token = c.authenticate && c.login == RelayLogin::OAuthCommand;
    if (!write(keys::kSmtpAuth, c.authenticate ? "y" : "n") ||
        !write(keys::kSmtpUser, c.authenticate ? c.userName : "") ||
        !write(keys::kSmtpPassword, c.authenticate && !token ? c.password : "") ||
        !write(keys::kSmtpLogin,
               relayLoginName(token ? RelayLogin::OAuthCommand : RelayLogin::Password)) ||
        !write(keys::kSmtpTokenCommand, token ? c.tokenCommand : ""))
        return save;
    if (c.server.empty()) {
        save.missing = SetupField::Server;
        return save;
    }
    write(keys::kSmtpServer, c.server) && write(keys::kSmtpPort, std::to_string(c.port)) &&
        write(keys::kSmtpSecurity, securityName(c.security));
    switchProfile();
    return save;
}

SetupField missingForTest(const SetupChoice& c) {
    if (c.mx) return SetupField::None;
    SetupField missing = missingCredential(c);
    if (missing != SetupField::None) return missing;
    return c.server.empty() ? SetupField::Server : SetupField::None;
}

SmtpCheck smtpCheckFor(const SetupChoice& c) {
    DeliverySettings d;
    d.mxMode = false;
    d.security = c.security;
    SmtpCheck check;
    check.server = c.server;
    check.port = static_cast<int>(c.port);
    check.authenticate = c.authenticate;
    if (c.authenticate) {
        check.userName = c.userName;
        if (c.login == RelayLogin::OAuthCommand) {
            // The connection test runs the command on its own thread (delivery/smtp_check.h).
            check.login = SmtpLogin::OAuthToken;
            check.tokenCommand = c.tokenCommand;
        } else {
            check.password = c.password;
        }
    }
    check.security = relaySecurity(d);
    check.helloDomain = helloDomainFor({}, check.userName);
    return check;
}

namespace {

bool isProgram(const std::filesystem::path& file) {
    std::error_code ec;
    return std::filesystem::is_regular_file(file, ec) && ::access(file.c_str(), X_OK) == 0;
}

}  // namespace

std::string findQuillmark(std::string_view ownFolder, std::string_view pathVariable) {
    const std::string name = "quillmark";
    if (!ownFolder.empty()) {
        std::filesystem::path beside = std::filesystem::path(ownFolder) / name;
        if (isProgram(beside)) return beside.string();
    }
    if (pathVariable.empty()) return {};
    std::size_t start = 0;
    while (start <= pathVariable.size()) {
        std::size_t end = pathVariable.find(':', start);
        if (end == std::string_view::npos) end = pathVariable.size();
        std::string_view folder = pathVariable.substr(start, end - start);
        std::filesystem::path candidate =
            std::filesystem::path(folder.empty() ? "." : folder) / name;
        if (isProgram(candidate)) return candidate.string();
        start = end + 1;
    }
    return {};
}

}  // namespace qm
