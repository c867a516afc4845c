// The places where the desktop meets cores that are still being built. Each entry names what
// replaces it; nothing here pretends to send or to check a message.
//
// - kBlankDocument, dynamicVariables(), previewText(): the message core's blank document,
//   DynamicVariable table and preview text rule. Until the core lands they are kept here, once.
// - kMessageCoreWired: CampaignMessage/AttachmentList/checkMessage. While false, the attachment
//   commands are "Not available yet".
// - kSendEngineWired: CampaignRun. While false, Send Email, Stop Sending and Test Campaign are
//   "Not available yet"; MainWindow::sendEmail(), stopSending() and the test campaign's accepted()
//   handler are the call sites, and RunForwarder (run_forwarder.h) is the observer's other end.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace qm::ui::seams {

inline constexpr bool kMessageCoreWired = false;
inline constexpr bool kSendEngineWired = false;

// The document the HTML editor starts from and is reset to.
inline constexpr std::string_view kBlankDocument =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n"
    "<HTML><HEAD>\r\n"
    "<META http-equiv=Content-Type content=\"text/html; charset=unicode\">\r\n"
    "<META content=\"MSHTML 6.00.6000.16640\" name=GENERATOR></HEAD>\r\n"
    "<BODY></BODY></HTML>";

struct VariableChoice {
    std::string_view label;
    std::string_view token;
};

// The thirteen tokens in list order.
std::span<const VariableChoice> dynamicVariables();

// What the preview shows for the editor's text: cut after the first "</HTML>" (else "</html>"),
// trimmed, and a white page when nothing is left.
std::string previewText(std::string_view editorHtml);

// True when the page carries the template wizard's marker. The message core's generated-page
// header reader replaces this and also gives the pictures to attach.
bool isGeneratedPage(std::string_view page);

}  // namespace qm::ui::seams
