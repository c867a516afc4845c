#include "app/command_rules.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(CommandRules, SendingDisablesIdleCommandsAndEnablesStop) {
    CommandState sending{.sending = true};
    for (Command c : {Command::NewEmail, Command::SendEmail, Command::InsertWebpage,
                      Command::CreateHtmlPage, Command::AddAttachment, Command::InsertVariable,
                      Command::AutoUnsubscribe, Command::TestCampaign})
        EXPECT_FALSE(isCommandEnabled(c, sending)) << static_cast<int>(c);
    EXPECT_TRUE(isCommandEnabled(Command::StopSending, sending));
    EXPECT_FALSE(isCommandEnabled(Command::StopImporting, sending));

    CommandState idle;
    EXPECT_TRUE(isCommandEnabled(Command::SendEmail, idle));
    EXPECT_TRUE(isCommandEnabled(Command::NewEmail, idle));
    EXPECT_FALSE(isCommandEnabled(Command::StopSending, idle));
}

TEST(CommandRules, WebPageAndAttachmentCommandsFollowTheirState) {
    CommandState s;
    EXPECT_TRUE(isCommandEnabled(Command::InsertWebpage, s));
    EXPECT_FALSE(isCommandEnabled(Command::RemoveWebPage, s));
    EXPECT_FALSE(isCommandEnabled(Command::RemoveAttachments, s));
    s.pageInserted = true;
    s.attachments = 1;
    EXPECT_FALSE(isCommandEnabled(Command::InsertWebpage, s));
    EXPECT_FALSE(isCommandEnabled(Command::CreateHtmlPage, s));
    EXPECT_TRUE(isCommandEnabled(Command::RemoveWebPage, s));
    EXPECT_TRUE(isCommandEnabled(Command::RemoveAttachments, s));
    EXPECT_TRUE(isCommandEnabled(Command::RemoveAllAttachments, s));
    s.attachments = 0;
    EXPECT_FALSE(isCommandEnabled(Command::RemoveAllAttachments, s));
    s.attachments = 1;
    s.importing = true;
    EXPECT_FALSE(isCommandEnabled(Command::RemoveWebPage, s));
    EXPECT_FALSE(isCommandEnabled(Command::RemoveAttachments, s));
    EXPECT_FALSE(isCommandEnabled(Command::RemoveAllAttachments, s));
    EXPECT_TRUE(isCommandEnabled(Command::StopImporting, s));
}

TEST(CloseGuard, ImportOutranksSending) {
    EXPECT_EQ(closeGuardMessage({}), "");
    EXPECT_EQ(closeGuardMessage({.sending = true}), kMsgCloseWhileSending);
    EXPECT_EQ(closeGuardMessage({.importing = true}), kMsgCloseWhileImporting);
    EXPECT_EQ(closeGuardMessage({.scheduledSending = true}), kMsgCloseWhileSending);
    EXPECT_EQ(closeGuardMessage({.sending = true, .importing = true}), kMsgCloseWhileImporting);
}

}  // namespace
}  // namespace qm
