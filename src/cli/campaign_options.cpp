#include "cli/campaign_options.h"

#include <cstdlib>
#include <iostream>

#include "common/file_util.h"
#include "config/settings.h"
#include "delivery/run_request.h"
#include "delivery/sender_profile.h"
#include "groups/address.h"
#include "message/list_unsubscribe.h"

namespace qm::cli {

void addMessageOptions(CLI::App* command, MessageOptions& o) {
    command->add_option("--from-name", o.fromName, "Sender name")->required();
    command->add_option("--from", o.from, "Sender address")->required();
    command->add_option("--subject", o.subject, "Subject")->required();
    o.html = command->add_option("--html", o.htmlFile, "HTML body file")->check(CLI::ExistingFile);
    o.text =
        command->add_option("--text", o.textFile, "Plain-text body file")->check(CLI::ExistingFile);
    o.html->excludes(o.text);
    command->add_option("--attach", o.attach, "Attachment file (repeatable)")
        ->check(CLI::ExistingFile);
    command->add_flag("--dynamic", o.dynamic, "Replace dynamic variables such as [**USER**]");
    o.unsubscribeOption =
        command->add_option("--unsubscribe", o.unsubscribe, "Address for unsubscribe requests");
    command->add_option("--scope", o.scope, "Unsubscribe scope")
        ->check(CLI::IsMember({"single", "all"}))
        ->needs(o.unsubscribeOption);
}

void addShapeOptions(CLI::App* command, ShapeOptions& o, CLI::Option* unsubscribe) {
    command
        ->add_option("--profile", o.profile,
                     "current: follow current bulk-sender rules (readable text part, List-Id, MX "
                     "by preference, lower-case footer); as-specified: none of them (else the "
                     "stored options)")
        ->check(CLI::IsMember({"current", "as-specified"}));
    command->add_option("--text-part", o.textPart, "Plain-text part of HTML mail (else stored)")
        ->check(CLI::IsMember({"source", "readable"}));
    command->add_option("--list-id", o.listId, "List-Id field on group runs (else stored)")
        ->check(CLI::IsMember({"y", "n"}));
    command
        ->add_option("--footer-markup", o.footerMarkup,
                     "Markup of the HTML unsubscribe footer: classic or lower (else stored)")
        ->check(CLI::IsMember({"classic", "lower"}));
    o.url = command->add_option("--unsubscribe-url", o.unsubscribeUrl,
                                "One-click unsubscribe URL template, https, with [**EMAIL**] and "
                                "[**GROUP**] (else stored; \"\" for none)");
    if (unsubscribe) o.url->needs(unsubscribe);
}

bool resolveShape(const ShapeOptions& o, MailShape& out, std::string& error) {
    out = loadMailShape(SettingsStore::open());
    if (auto profile = parseProfile(o.profile)) {
        const ProfileOptions values = profileValues(*profile);
        out.textPart = values.textPart;
        out.listId = values.listId;
        out.footerMarkup = values.footerMarkup;
    }
    if (auto style = parseTextPart(o.textPart)) out.textPart = *style;
    if (!o.listId.empty()) out.listId = o.listId == "y";
    if (auto markup = parseFooterMarkup(o.footerMarkup)) out.footerMarkup = *markup;
    if (o.url && o.url->count() > 0) {
        error = checkUnsubscribeUrl(o.unsubscribeUrl);
        if (!error.empty()) return false;
        out.unsubscribeUrl = o.unsubscribeUrl;
    }
    return true;
}

bool bodyChosen(const MessageOptions& o) {
    return o.html->count() + o.text->count() == 1;
}

bool confirmOnStderr(std::string_view question) {
    std::cerr << question << " (going on)\n";
    return true;
}

bool fillMessage(const MessageOptions& o, CampaignMessage& m, std::string& error) {
    m.senderName = o.fromName;
    m.senderAddress = o.from;
    m.subject = o.subject;
    m.format = o.htmlFile.empty() ? MessageFormat::PlainText : MessageFormat::Html;
    std::string text;
    if (!readFile(o.htmlFile.empty() ? o.textFile : o.htmlFile, text, &error)) return false;
    (m.isHtml() ? m.htmlText : m.plainText) = text;
    m.useDynamicVariables = o.dynamic;
    m.unsubscribeAddress = o.unsubscribe;
    m.unsubscribeScope =
        o.scope == "all" ? UnsubscribeScope::AllGroups : UnsubscribeScope::SingleGroup;
    if (!o.unsubscribe.empty() && !isEmailAddress(o.unsubscribe)) {
        error = "The email address entered is invalid.";
        return false;
    }
    MailShape shape;
    if (!resolveShape(o.shape, shape, error)) return false;
    applyMailShape(m, shape);
    error = m.attachments.addFiles(o.attach);
    return error.empty();
}

bool prepareMessage(const MessageOptions& o, CampaignMessage& m, std::string& error) {
    if (!fillMessage(o, m, error)) return false;
    MessageCheckHooks hooks;
    hooks.confirm = confirmOnStderr;
    CheckResult check = checkMessage(m, false, hooks);
    if (!check.ok) {
        error = check.message;
        return false;
    }
    markInlinePictures(m);
    return true;
}

void addRelayOptions(CLI::App* command, DeliveryOptions& o) {
    command->add_option("--server", o.server, "Relay server (else the stored one)");
    command->add_option("--port", o.port, "Relay port")->check(CLI::Range(1, 65535));
    command->add_option("--security", o.security, "Connection security")
        ->check(CLI::IsMember({"none", "starttls", "tls"}));
    command->add_option("--verify-cert", o.verifyCert, "Check the relay's certificate")
        ->check(CLI::IsMember({"y", "n"}));
    command->add_option("--user", o.user, "Relay user name (AUTH PLAIN or LOGIN)");
    auto* passwordEnv = command->add_option("--password-env", o.passwordEnv,
                                            "Environment variable that holds the relay password");
    command
        ->add_option("--oauth-command", o.oauthCommand,
                     "Log in with OAuth 2 (XOAUTH2 or OAUTHBEARER): the program and arguments "
                     "that print an access token, run without a shell; needs --user")
        ->excludes(passwordEnv);
}

void addMxOrderOption(CLI::App* command, DeliveryOptions& o) {
    command
        ->add_option("--mx-order", o.mxOrder,
                     "Exchanger order in MX mode: the first as answered, or all by preference")
        ->check(CLI::IsMember({"answer", "preference"}));
}

void addDeliveryOptions(CLI::App* command, DeliveryOptions& o) {
    addRelayOptions(command, o);
    command->add_flag("--mx", o.mx, "Deliver to each recipient's mail exchanger")
        ->excludes(command->get_option("--server"));
    addMxOrderOption(command, o);
    command->add_option("--threads", o.threads, "Sending threads")->check(CLI::Range(1, 15));
    command->add_option("--wait", o.wait, "Seconds each thread waits after a recipient")
        ->check(CLI::Range(0, 5));
    command
        ->add_option("--per-connection", o.perConnection,
                     "Messages each thread sends over one SMTP session (1: a connection per "
                     "recipient); without it, the stored setting")
        ->check(CLI::Range(kMinPerConnection, kMaxPerConnection));
    command
        ->add_option("--rate", o.rate,
                     "At most N messages per minute or hour, all threads together: N/min or N/h "
                     "(0: no limit; else the stored pace)")
        ->check([](const std::string& text) {
            return parseSendRate(text) ? std::string() : "not N/min, N/h or 0: " + text;
        });
}

void applyProfileOrder(const ShapeOptions& shape, const DeliveryOptions& o, DeliverySettings& d) {
    if (!o.mxOrder.empty()) return;
    if (auto profile = parseProfile(shape.profile)) d.mxOrder = profileValues(*profile).mxOrder;
}

bool deliveryChosen(const DeliveryOptions& o, std::string& error) {
    if (o.mx || !o.server.empty()) return true;
    if (SettingsStore::open().hasSubkey(keys::kSmtpServer.subkey)) return true;
    error =
        "No mail server is set. Give --server HOST to send through your mail server, or --mx to "
        "deliver straight to each recipient's mail exchanger (or run Quillsetup to store one).";
    return false;
}

bool resolveDelivery(const DeliveryOptions& o, DeliverySettings& d, std::string& error) {
    d = loadDeliverySettings(SettingsStore::open());
    if (o.mx) d.mxMode = true;
    if (!o.server.empty()) {
        d.mxMode = false;
        d.server = o.server;
        d.authenticate = false;
        d.userName.clear();
        d.password.clear();
    }
    if (o.port > 0) d.port = static_cast<unsigned>(o.port);
    if (!o.security.empty()) d.security = parseSecurity(o.security);
    if (!o.verifyCert.empty()) d.verifyCert = o.verifyCert == "y";
    if (!o.mxOrder.empty()) d.mxOrder = parseMxOrder(o.mxOrder);
    if (!o.oauthCommand.empty() && o.user.empty()) {
        error = "--oauth-command needs --user: the token is sent with the account's name.";
        return false;
    }
    if (!o.user.empty()) {
        d.authenticate = true;
        d.userName = o.user;
        d.login = o.oauthCommand.empty() ? RelayLogin::Password : RelayLogin::OAuthCommand;
        d.tokenCommand = o.oauthCommand;
        if (!o.passwordEnv.empty()) {
            const char* value = std::getenv(o.passwordEnv.c_str());
            if (!value) {
                error = "The environment variable " + o.passwordEnv +
                        " named by --password-env is not set; it must hold the relay password.";
                return false;
            }
            d.password = value;
        }
    }
    d.threadCount = o.threads;
    d.waitSeconds = o.wait;
    if (o.perConnection > 0) d.perConnection = o.perConnection;
    if (!o.rate.empty()) d.rate = parseSendRate(o.rate).value_or(SendRate{});
    d.startNow = true;
    return true;
}

}  // namespace qm::cli
