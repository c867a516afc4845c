#include "delivery/run_request.h"

#include "config/settings.h"
#include "delivery/test_campaign.h"
#include "groups/address.h"
#include "groups/group_selection.h"
#include "message/html_tools.h"

namespace qm {

void markInlinePictures(CampaignMessage& m) {
    m.attachments.resetEmbedded();
    if (m.isHtml()) rewriteInlineImages(m.body, m.attachments);
}

RunBuild buildRunRequest(RunFields fields, const SettingsStore& settings,
                         const RunRequestHooks& hooks) {
    RunBuild out;
    RunRequest& r = out.request;
    AddressList typed = parseAddressList(fields.recipientsText);
    if (!typed.message.empty() && hooks.note) hooks.note(typed.message);
    r.typed = std::move(typed.addresses);

    r.message = std::move(fields.message);
    r.delivery = std::move(fields.delivery);
    MessageCheckHooks check;
    check.confirm = hooks.confirm;
    check.checkDelivery = [&r] { return checkDeliverySettings(r.delivery); };
    check.startTimeValid = hooks.startTimeValid;
    out.check = checkMessage(r.message, false, check);
    if (!out.check.ok) return out;

    if (!fields.testCampaign) {
        r.groups = splitGroupSelection(fields.groupsText);
        out.unfinishedGroup = unfinishedGroupName(fields.groupsText);
    }
    if (r.typed.empty() && r.groups.empty()) {
        out.check = {false,
                     std::string(fields.testCampaign ? kMsgNoTestAddress : kMsgNoValidAddress),
                     MessageField::None};
        return out;
    }

    markInlinePictures(r.message);
    r.autoUnsubscribe = settings.readFlag(keys::kAutoUnsubscribe);
    r.mxStartTls = settings.readFlag(keys::kMxStartTls);
    std::string dkimError;
    if (!loadRunSigner(fields.dkim, r.sources.dkim, dkimError))
        out.check = {false, dkimError, MessageField::DeliverySettings};
    return out;
}

}  // namespace qm
