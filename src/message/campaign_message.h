// The campaign message: the one message a run sends to every recipient, its checks and the preview
// text rules.
//
// Entry points: CampaignMessage (the record the screens fill), newMessage() (reset),
// checkMessage() (the checks before a run, a spam check or a test campaign; derives `body`),
// previewText() / previewFilePath() (what the "Html Preview" tab writes and where).
//
// Failure contract: checkMessage() returns a CheckResult; on failure `message` is the fixed text to
// show (empty when the user declined the empty-message question) and `focus` the field to put the
// keyboard focus on. It never shows anything itself: the question of the empty-message step goes
// through the `confirm` hook, and the delivery-settings and start-time steps call hooks that the
// send engine and the scheduler fill. Unset hooks answer "yes" / "valid".
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "message/attachment_list.h"

namespace qm {

enum class MessageFormat { Html, PlainText };
enum class UnsubscribeScope { SingleGroup, AllGroups };
// What the HTML shape carries as its text/plain alternative.
enum class TextPartStyle { HtmlSource, Readable };
// How the HTML unsubscribe footer spells its markup: as it always was (mixed-case tags, which
// content filters score as sloppy bulk mail) or all in lower case; the text and look are the same.
enum class FooterMarkup { Classic, LowerCase };

// What the HTML editor starts from and is reset to.
inline constexpr std::string_view kBlankDocument =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n<HTML><HEAD>\r\n<META "
    "http-equiv=Content-Type content=\"text/html; charset=unicode\">\r\n<META content=\"MSHTML "
    "6.00.6000.16640\" name=GENERATOR></HEAD>\r\n<BODY></BODY></HTML>";

struct CampaignMessage {
    std::string senderAddress;
    std::string senderName;
    std::string subject;
    MessageFormat format = MessageFormat::Html;
    std::string htmlText = std::string(kBlankDocument);  // the HTML editor's document
    std::string plainText;
    bool useDynamicVariables = false;

    // Set by insertWebPage(); while generatedPage is set the body is the page file's content.
    std::string webPagePath;
    bool pageInserted = false;
    bool generatedPage = false;

    AttachmentList attachments;
    std::string unsubscribeAddress;  // empty: no unsubscribe link
    UnsubscribeScope unsubscribeScope = UnsubscribeScope::SingleGroup;
    // Stored settings taken at every run (message/mail_shape.h): the one-click unsubscribe URL
    // template (https, empty for none) and how the text alternative is made.
    std::string unsubscribeUrl;
    TextPartStyle textPart = TextPartStyle::HtmlSource;
    // Stored settings too: a List-Id field on the copies of a group run (list_id.h), and the
    // spelling of the footer's markup.
    bool listId = false;
    FooterMarkup footerMarkup = FooterMarkup::Classic;

    // Derived by checkMessage(): what the send engine sends.
    std::string body;

    bool isHtml() const { return format == MessageFormat::Html; }
};

// "New Email": everything emptied, HTML format, the blank document in the editor.
void newMessage(CampaignMessage& m);

inline constexpr std::string_view kMsgEnterSenderName = "Please enter sender's Name.";
inline constexpr std::string_view kMsgSenderNameSpecial =
    "The sender's name cannot contain any special characters.";
inline constexpr std::string_view kMsgEnterSenderAddress = "Please enter sender's Email Address.";
inline constexpr std::string_view kMsgInvalidSenderAddress =
    "Please enter a valid sender's Email Address.";
inline constexpr std::string_view kMsgSubjectEmpty = "The subject must be filled up.";
inline constexpr std::string_view kAskSendEmpty = "Are you sure you want send an empty message?";
inline constexpr std::string_view kAskSpamCheckEmpty =
    "Are you sure you want Spam Check an empty message?";
inline constexpr std::string_view kMsgInvalidStartTime =
    "Please enter a valid time to start sending of mails.";

enum class MessageField {
    None,
    SenderName,
    SenderAddress,
    Subject,
    MessageTab,        // the "Message" tab
    DeliverySettings,  // chosen by the delivery-settings hook
    StartTime,         // the "SMTP Settings" tab with the time field
};

struct CheckResult {
    bool ok = true;
    std::string message;
    MessageField focus = MessageField::None;
};

struct MessageCheckHooks {
    // The empty-message question; true is "Yes".
    std::function<bool(std::string_view question)> confirm;
    // The send engine's delivery-settings check.
    std::function<CheckResult()> checkDelivery;
    // The scheduler's answer: false when the run is scheduled and its start time is not after the
    // present moment. It marks an unscheduled run to start at once.
    std::function<bool()> startTimeValid;
};

CheckResult checkMessage(CampaignMessage& m, bool forSpamCheck, const MessageCheckHooks& hooks);

// The text up to and including the first "</HTML>", or failing that the first "</html>"; the whole
// text when it holds neither.
std::string_view cutAfterHtmlEnd(std::string_view html);

// What the preview file receives for the editor's document.
std::string previewText(std::string_view editorText);
// "temp.htm" in the inserted page's folder (so its relative picture paths resolve), else in the
// program folder.
std::string previewFilePath(const CampaignMessage& m, const std::string& programFolder);

}  // namespace qm
