// Which main-window commands are enabled in which state, and what the close guard says.
//
// Entry points: isCommandEnabled(), closeGuardMessage().
//
// The window asks these every time a menu or the tool bar is shown, so the rules live in one
// place that a test can walk through without a screen. A command whose feature is not built yet
// is disabled by the window whatever these rules say.
#pragma once

#include <string_view>

namespace qm {

// Every entry of the menu bar, and Ctrl+M.
enum class Command {
    NewEmail,
    SendEmail,
    StopSending,
    Exit,
    ImportAddresses,
    StopImporting,
    SpamCheck,
    GroupManagement,
    TestCampaign,
    DeliveryReport,
    SchedulerStatus,
    AddAttachment,
    RemoveAttachments,  // "Remove Selected"
    RemoveAllAttachments,
    InsertWebpage,
    CreateHtmlPage,
    RemoveWebPage,
    TemplateWizard,
    AddUnsubscribeLink,
    GetUnsubscribers,
    FilterUnsubscribers,
    SaveUnsubscribed,
    AutoUnsubscribe,
    GetSubscribers,
    HelpContents,
    QuickTour,
    ShowReminder,
    HomePage,
    About,
    InsertVariable,
    ImportEml,  // the EML import dialog
};

struct CommandState {
    bool sending = false;
    // A scheduled run is sending: only the close guard looks at it (it changes no command).
    bool scheduledSending = false;
    bool importing = false;
    bool pageInserted = false;
    int attachments = 0;
};

bool isCommandEnabled(Command command, const CommandState& state);

inline constexpr std::string_view kMsgCloseWhileImporting =
    "Sorry, you cannot close the application while importing email addresses.";
inline constexpr std::string_view kMsgCloseWhileSending =
    "Sorry, you cannot close the application while sending emails.";

// Empty when the window may close; an import outranks a run.
std::string_view closeGuardMessage(const CommandState& state);

}  // namespace qm
