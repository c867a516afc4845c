// message commands: build (print one recipient's DATA text).
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/file_util.h"
#include "common/smtp_transparency.h"
#include "groups/address.h"
#include "groups/recipient.h"
#include "message/attachment_cache.h"
#include "message/dynamic_variables.h"
#include "message/fill_message.h"
#include "message/html_tools.h"

namespace qm::cli {

namespace {

struct BuildOptions {
    std::string fromName, from, subject, htmlFile, textFile, to, recipientLine, unsubscribe, group;
    std::string scope = "single";
    std::vector<std::string> attach;
    bool dynamic = false;
};

int runBuild(const BuildOptions& o) {
    CampaignMessage m;
    m.senderName = o.fromName;
    m.senderAddress = o.from;
    m.subject = o.subject;
    m.format = o.htmlFile.empty() ? MessageFormat::PlainText : MessageFormat::Html;
    std::string error;
    const std::string& file = o.htmlFile.empty() ? o.textFile : o.htmlFile;
    std::string text;
    if (!readFile(file, text, &error)) return fail(error);
    (m.isHtml() ? m.htmlText : m.plainText) = text;
    m.useDynamicVariables = o.dynamic;
    m.unsubscribeAddress = o.unsubscribe;
    m.unsubscribeScope =
        o.scope == "all" ? UnsubscribeScope::AllGroups : UnsubscribeScope::SingleGroup;
    std::string message = m.attachments.addFiles(o.attach);
    if (!message.empty()) return fail(message);
    if (!isEmailAddress(o.to)) return fail("Not a valid recipient address: " + o.to);
    if (!o.unsubscribe.empty() && !isEmailAddress(o.unsubscribe))
        return fail("The email address entered is invalid.");

    MessageCheckHooks hooks;
    hooks.confirm = [](std::string_view question) {
        std::cerr << question << " (building it anyway)\n";
        return true;
    };
    CheckResult check = checkMessage(m, false, hooks);
    if (!check.ok) return fail(check.message);

    m.attachments.resetEmbedded();
    if (m.isHtml()) rewriteInlineImages(m.body, m.attachments);
    std::string body = m.body;
    if (!m.unsubscribeAddress.empty()) {
        std::optional<std::string_view> group;
        if (!o.group.empty()) group = o.group;
        body = withUnsubscribeText(body, m.format, m.unsubscribeAddress, m.unsubscribeScope, group);
    }
    if (m.useDynamicVariables)
        body = o.recipientLine.empty() ? personalise(body, o.to)
                                       : personalise(body, parseGroupLine(o.recipientLine));

    AttachmentCache cache;
    MimeMessage mime;
    mime.sources.cache = &cache;
    fillMimeMessage(mime, m, o.to, body);
    {
        std::lock_guard<std::mutex> guard(mimeBuildLock());
        mime.build();
    }
    std::cout << mime.headerBlock << smtpTransparency(mime.body);
    return kExitOk;
}

}  // namespace

void addMessageCommands(CLI::App& app, int& exitCode) {
    auto* message = app.add_subcommand("message", "The campaign message and its MIME text");
    message->require_subcommand(1);

    static BuildOptions o;
    auto* build = message->add_subcommand(
        "build", "Print the DATA text (header block and body, dot-stuffed) for one recipient");
    build->add_option("--from-name", o.fromName, "Sender name")->required();
    build->add_option("--from", o.from, "Sender address")->required();
    build->add_option("--subject", o.subject, "Subject")->required();
    auto* html =
        build->add_option("--html", o.htmlFile, "HTML body file")->check(CLI::ExistingFile);
    auto* text =
        build->add_option("--text", o.textFile, "Plain-text body file")->check(CLI::ExistingFile);
    html->excludes(text);
    build->add_option("--attach", o.attach, "Attachment file (repeatable)")
        ->check(CLI::ExistingFile);
    build->add_option("--to", o.to, "Recipient address")->required();
    build->add_option("--recipient-line", o.recipientLine,
                      "Stored group line of the recipient, for dynamic variables");
    build->add_flag("--dynamic", o.dynamic, "Replace dynamic variables such as [**USER**]");
    auto* unsub = build->add_option("--unsubscribe", o.unsubscribe, "Unsubscribe address");
    build->add_option("--scope", o.scope, "Unsubscribe scope")
        ->check(CLI::IsMember({"single", "all"}))
        ->needs(unsub);
    build->add_option("--group", o.group, "Group the recipient belongs to")->needs(unsub);
    build->callback([&exitCode, html, text] {
        if (html->count() + text->count() != 1) {
            exitCode = fail("Give exactly one of --html and --text.");
            return;
        }
        exitCode = runBuild(o);
    });
}

}  // namespace qm::cli
