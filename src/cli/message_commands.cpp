// message commands: build (print one recipient's DATA text).
#include <iostream>
#include <optional>
#include <string>

#include "cli/campaign_options.h"
#include "cli/commands.h"
#include "common/smtp_transparency.h"
#include "groups/address.h"
#include "groups/recipient.h"
#include "message/attachment_cache.h"
#include "message/dynamic_variables.h"
#include "message/fill_message.h"
#include "message/html_tools.h"
#include "message/list_unsubscribe.h"

namespace qm::cli {

namespace {

struct BuildOptions {
    MessageOptions message;
    std::string to, recipientLine, group;
};

int runBuild(const BuildOptions& o) {
    if (!isEmailAddress(o.to)) return fail("Not a valid recipient address: " + o.to);
    CampaignMessage m;
    std::string error;
    if (!prepareMessage(o.message, m, error)) return fail(error);

    std::string body = m.body;
    std::optional<std::string_view> group;
    if (!o.group.empty()) group = o.group;
    if (!m.unsubscribeAddress.empty()) {
        body = withUnsubscribeText(body, m.format, m.unsubscribeAddress, m.unsubscribeScope, group,
                                   m.footerMarkup);
    }
    if (m.useDynamicVariables)
        body = o.recipientLine.empty() ? personalise(body, o.to)
                                       : personalise(body, parseGroupLine(o.recipientLine));

    AttachmentCache cache;
    MimeMessage mime;
    mime.sources.cache = &cache;
    mime.extraHeaders = listHeaders(m, o.to, group);
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

    auto o = std::make_shared<BuildOptions>();
    auto* build = message->add_subcommand(
        "build", "Print the DATA text (header block and body, dot-stuffed) for one recipient");
    addMessageOptions(build, o->message);
    addShapeOptions(build, o->message.shape, o->message.unsubscribeOption);
    build->add_option("--to", o->to, "Recipient address")->required();
    build->add_option("--recipient-line", o->recipientLine,
                      "Stored group line of the recipient, for dynamic variables");
    build->add_option("--group", o->group, "Group the recipient belongs to")
        ->needs(o->message.unsubscribeOption);
    build->callback([&exitCode, o] {
        if (!bodyChosen(o->message)) {
            std::cerr << "Give exactly one of --html and --text.\n";
            exitCode = kExitUsage;
            return;
        }
        exitCode = runBuild(*o);
    });
}

}  // namespace qm::cli
