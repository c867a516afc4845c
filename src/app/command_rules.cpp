#include "app/command_rules.h"

namespace qm {

bool isCommandEnabled(Command command, const CommandState& s) {
    const bool idle = !s.sending && !s.importing;
    switch (command) {
        case Command::StopSending:
            return s.sending;
        case Command::StopImporting:
            return s.importing;
        case Command::InsertWebpage:
        case Command::CreateHtmlPage:
            return idle && !s.pageInserted;
        case Command::RemoveWebPage:
            return idle && s.pageInserted;
        case Command::RemoveAttachments:
        case Command::RemoveAllAttachments:
            return idle && s.attachments > 0;
        case Command::SchedulerStatus:
        case Command::GetSubscribers:
            // Reading results never conflicts with a run.
            return true;
        case Command::Exit:
            // The close guard answers while something is running.
            return true;
        case Command::HelpContents:
        case Command::QuickTour:
        case Command::ShowReminder:
        case Command::HomePage:
        case Command::About:
            return true;
        case Command::TestCampaign:
        case Command::NewEmail:
        case Command::SendEmail:
        case Command::ImportAddresses:
        case Command::SpamCheck:
        case Command::GroupManagement:
        case Command::DeliveryReport:
        case Command::AddAttachment:
        case Command::TemplateWizard:
        case Command::AddUnsubscribeLink:
        case Command::GetUnsubscribers:
        case Command::FilterUnsubscribers:
        case Command::SaveUnsubscribed:
        case Command::AutoUnsubscribe:
        case Command::InsertVariable:
        case Command::ImportEml:
            return idle;
    }
    return false;
}

std::string_view closeGuardMessage(const CommandState& s) {
    if (s.importing) return kMsgCloseWhileImporting;
    if (s.sending || s.scheduledSending) return kMsgCloseWhileSending;
    return {};
}

}  // namespace qm
