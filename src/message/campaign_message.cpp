#include "message/campaign_message.h"

#include "common/file_util.h"
#include "groups/address.h"

namespace qm {

namespace {

// A generated page is a web page; anything this large is not one.
constexpr std::uint64_t kMaxPageBytes = 64ull << 20;

CheckResult failure(std::string_view message, MessageField focus) {
    return {false, std::string(message), focus};
}

}  // namespace

void newMessage(CampaignMessage& m) {
    m = CampaignMessage{};
}

std::string_view cutAfterHtmlEnd(std::string_view html) {
    for (std::string_view tag : {"</HTML>", "</html>"}) {
        std::size_t at = html.find(tag);
        if (at != std::string_view::npos) return html.substr(0, at + tag.size());
    }
    return html;
}

CheckResult checkMessage(CampaignMessage& m, bool forSpamCheck, const MessageCheckHooks& hooks) {
    m.senderName = std::string(trimWhite(m.senderName));
    if (m.senderName.empty()) return failure(kMsgEnterSenderName, MessageField::SenderName);
    if (violatesRule(m.senderName, kLettersOnlyRule))
        return failure(kMsgSenderNameSpecial, MessageField::SenderName);

    m.senderAddress = std::string(trimWhite(m.senderAddress));
    if (m.senderAddress.empty())
        return failure(kMsgEnterSenderAddress, MessageField::SenderAddress);
    if (!isEmailAddress(m.senderAddress))
        return failure(kMsgInvalidSenderAddress, MessageField::SenderAddress);

    m.subject = std::string(trimWhite(m.subject));
    if (m.subject.empty()) return failure(kMsgSubjectEmpty, MessageField::Subject);

    std::string body;
    if (!m.isHtml()) {
        body = m.plainText;
    } else if (m.generatedPage) {
        if (!readFile(m.webPagePath, body, nullptr, kMaxPageBytes)) body.clear();
    } else {
        body = std::string(cutAfterHtmlEnd(m.htmlText));
    }
    m.body = std::string(trimWhite(body));

    if (m.body.empty() || m.body == kBlankDocument) {
        bool yes =
            !hooks.confirm || hooks.confirm(forSpamCheck ? kAskSpamCheckEmpty : kAskSendEmpty);
        if (!yes) return failure("", MessageField::MessageTab);
    }

    if (hooks.checkDelivery) {
        CheckResult delivery = hooks.checkDelivery();
        if (!delivery.ok) return delivery;
    }
    if (forSpamCheck) return {};

    if (hooks.startTimeValid && !hooks.startTimeValid())
        return failure(kMsgInvalidStartTime, MessageField::StartTime);
    return {};
}

std::string previewText(std::string_view editorText) {
    std::string_view text = trimWhite(cutAfterHtmlEnd(editorText));
    if (text.empty()) return "<body bgcolor=\"WHITE\"></body>";
    return std::string(text);
}

std::string previewFilePath(const CampaignMessage& m, const std::string& programFolder) {
    if (m.pageInserted && !m.webPagePath.empty()) {
        std::size_t slash = m.webPagePath.rfind('/');
        std::string folder = slash == std::string::npos ? "." : m.webPagePath.substr(0, slash);
        return folder + "/temp.htm";
    }
    return programFolder + "/temp.htm";
}

}  // namespace qm
