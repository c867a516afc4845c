// A whole retrieval run against a scripted mailbox: the store files, the output file, the list,
// subscribe mode's group additions and Stop.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config/paths.h"
#include "fake_pop3_server.h"
#include "subscriptions/retrieval.h"
#include "support/temp_dir.h"
#include "support/timeouts.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::Pop3Step;
using test::say;
using test::silence;
using test::want;

std::string mail(std::string_view from, std::string_view subject) {
    return "From: " + std::string(from) + "\r\nTo: list@x.test\r\nDate: Mon, 1 Jan 2024\r\n" +
           "Subject: " + std::string(subject) + "\r\n\r\nplease\r\n";
}

// A mailbox that serves `messages` once each, then QUIT.
std::vector<Pop3Step> mailbox(const std::vector<std::string>& messages) {
    std::vector<Pop3Step> s = {say("+OK ready\r\n"),
                               want("USER u\r\n"),
                               say("+OK\r\n"),
                               want("PASS p\r\n"),
                               say("+OK\r\n"),
                               want("STAT\r\n"),
                               say("+OK " + std::to_string(messages.size()) + " 999\r\n")};
    for (std::size_t i = 0; i < messages.size(); ++i) {
        s.push_back(want("RETR " + std::to_string(i + 1) + "\r\n"));
        s.push_back(say("+OK\r\n" + messages[i] + ".\r\n"));
    }
    s.push_back(want("QUIT\r\n"));
    s.push_back(say("+OK\r\n"));
    return s;
}

struct Seen : RetrievalObserver {
    void status(const std::string& t) override { statuses.push_back(t); }
    void listed(const std::string& a) override { addresses.push_back(a); }
    void notice(const std::string& t) override { notices.push_back(t); }
    std::vector<std::string> statuses, addresses, notices;
};

class RetrievalTest : public ::testing::Test {
  protected:
    RetrievalTest() : paths(dir.file("qm")) { paths.ensureFolders(); }
    RetrievalRequest request(int port, RetrievalMode mode) {
        RetrievalRequest r;
        r.server = "127.0.0.1";
        r.port = port;
        r.user = "u";
        r.password = "p";
        r.outputFile = dir.file("out.txt");
        r.mode = mode;
        r.timeouts = Pop3Timeouts::uniform(test::kPatient);
        return r;
    }
    bool exists(const std::string& rel) const { return std::ifstream(dir.file(rel)).good(); }
    test::TempDir dir;
    Paths paths;
};

TEST_F(RetrievalTest, UnsubscribeModeFilesEachSenderOnce) {
    test::FakePop3Server server(mailbox({
        mail("\"Doe, Jane\" <jane@x.test>", "Unsubscribe-My:Group"),
        mail("bob@x.com", "Unsubscribe"),
        mail("Nobody at all", "Unsubscribe-My:Group"),
        mail("Jane <jane@x.test>", "Unsubscribe-My:Group"),
        mail("ob@x.com", "unsubscribe-News"),
    }));
    std::vector<std::string> list;
    RetrievalRun run(paths, request(server.port(), RetrievalMode::Unsubscribe), list);
    Seen seen;
    RetrievalResult r = run.run(seen);
    server.finish();
    EXPECT_EQ(server.mismatch(), "");
    EXPECT_EQ(r.outcome, RetrievalOutcome::Done) << r.message;
    EXPECT_EQ(r.message, "Email addresses has been successfully retrieved.");
    EXPECT_EQ(r.messages, 5);
    EXPECT_EQ(r.recorded, 3);
    EXPECT_EQ(dir.read("qm/GroupUnsubscribers/_My Group.sbz"), "jane@x.test\r\n");
    EXPECT_EQ(dir.read("qm/GroupUnsubscribers/_1.sbz"), "bob@x.com\r\nob@x.com\r\n");
    EXPECT_EQ(dir.read("out.txt"), "jane@x.test\r\nbob@x.com\r\nob@x.com\r\n");
    EXPECT_EQ(seen.addresses, list);
    EXPECT_EQ(seen.statuses.front(), "Please wait");
    EXPECT_NE(std::find(seen.statuses.begin(), seen.statuses.end(), "Retrieving Emails: 40% Done"),
              seen.statuses.end());
}

TEST_F(RetrievalTest, SubscribeModeAddsNewAddressesToGroups) {
    dir.write("qm/GroupRecipients/_G.sbz", "ob@x.com,,,,,,,,,,,,,E\r\n");
    test::FakePop3Server server(
        mailbox({mail("bob@x.com", "subscribe"), mail("ob@x.com", "Unsubscribe-G")}));
    std::vector<std::string> list;
    RetrievalRequest req = request(server.port(), RetrievalMode::Subscribe);
    req.groups = {"G", "Gone"};
    RetrievalRun run(paths, req, list);
    Seen seen;
    RetrievalResult r = run.run(seen);
    server.finish();
    EXPECT_EQ(r.outcome, RetrievalOutcome::Done) << r.message;
    EXPECT_EQ(dir.read("qm/GroupRecipients/_G.sbz"),
              "ob@x.com,,,,,,,,,,,,,E\r\nbob@x.com,,,,,,,,,,,,,E\r\n")
        << "a known ob@x.com must not turn bob@x.com into a line \"b\"";
    EXPECT_EQ(seen.notices, std::vector<std::string>{"Failed to save Email IDs to Gone"});
    EXPECT_FALSE(exists("qm/GroupUnsubscribers/_G.sbz")) << "subscribers are no unsubscribers";
    EXPECT_FALSE(exists("qm/GroupUnsubscribers/_1.sbz"));
}

TEST_F(RetrievalTest, EmptyMailboxAndFailures) {
    {
        test::FakePop3Server server(mailbox({}));
        std::vector<std::string> list;
        Seen seen;
        RetrievalResult r =
            RetrievalRun(paths, request(server.port(), RetrievalMode::Unsubscribe), list).run(seen);
        EXPECT_EQ(r.outcome, RetrievalOutcome::NoMessages);
        EXPECT_EQ(r.message, "No new emails.");
        EXPECT_FALSE(exists("out.txt"));
    }
    {
        test::FakePop3Server server({say("+OK\r\n"), want("USER u\r\n"), say("+OK\r\n"),
                                     want("PASS p\r\n"),
                                     say("-ERR [AUTH] Authentication failed.\r\n")});
        std::vector<std::string> list;
        Seen seen;
        RetrievalResult r =
            RetrievalRun(paths, request(server.port(), RetrievalMode::Unsubscribe), list).run(seen);
        EXPECT_EQ(r.outcome, RetrievalOutcome::Failed);
        EXPECT_EQ(r.message, "Invalid username/password. ");
    }
}

// A store folder that cannot be written fails every message alike: the run ends at the first one
// with one text, not one message box per message. A subject that names no possible group is that
// message's fault only: said, and the run goes on.
TEST_F(RetrievalTest, UnwritableStoreEndsTheRunAtTheFirstMessage) {
    {
        std::vector<Pop3Step> script =
            mailbox({mail("a@x.test", "Unsubscribe-A/B"), mail("b@x.test", "Unsubscribe")});
        test::FakePop3Server server(script);
        std::vector<std::string> list;
        Seen seen;
        RetrievalResult r =
            RetrievalRun(paths, request(server.port(), RetrievalMode::Unsubscribe), list).run(seen);
        server.finish();
        EXPECT_EQ(server.mismatch(), "");
        EXPECT_EQ(r.outcome, RetrievalOutcome::Done) << r.message;
        EXPECT_EQ(seen.notices, std::vector<std::string>{"Not a group name: A/B"});
        EXPECT_EQ(dir.read("qm/GroupUnsubscribers/_1.sbz"), "b@x.test\r\n");
    }
    std::filesystem::remove(dir.file("out.txt"));
    std::filesystem::remove_all(paths.groupUnsubscribers());
    dir.write("qm/GroupUnsubscribers", "a file where the folder belongs");
    // Three messages in the mailbox; the run says QUIT after the first.
    std::vector<Pop3Step> script = mailbox({mail("c@x.test", "Unsubscribe")});
    script[6] = say("+OK 3 999\r\n");
    test::FakePop3Server server(script);
    std::vector<std::string> list;
    Seen seen;
    RetrievalResult r =
        RetrievalRun(paths, request(server.port(), RetrievalMode::Unsubscribe), list).run(seen);
    server.finish();
    EXPECT_EQ(server.mismatch(), "");
    EXPECT_EQ(r.outcome, RetrievalOutcome::Failed);
    EXPECT_EQ(r.message.rfind("Unable to open " + paths.groupUnsubscribers() + "/_1.sbz: ", 0), 0u)
        << r.message;
    EXPECT_TRUE(seen.notices.empty());
    EXPECT_EQ(r.messages, 1);
    EXPECT_FALSE(exists("out.txt"));
}

TEST_F(RetrievalTest, StopEndsAWaitingRunAtOnce) {
    test::FakePop3Server server({say("+OK\r\n"), want("USER u\r\n"), say("+OK\r\n"),
                                 want("PASS p\r\n"), say("+OK\r\n"), want("STAT\r\n"), silence()});
    std::vector<std::string> list;
    RetrievalRequest req = request(server.port(), RetrievalMode::Unsubscribe);
    req.timeouts = Pop3Timeouts::defaults();
    RetrievalRun run(paths, req, list);
    Seen seen;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        run.stop();
    });
    const auto start = std::chrono::steady_clock::now();
    RetrievalResult r = run.run(seen);
    stopper.join();
    EXPECT_EQ(r.outcome, RetrievalOutcome::Stopped);
    // Half the default time-out that the Stop cuts short, with room for any busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    EXPECT_FALSE(exists("out.txt"));
}

TEST(RetrievalInputTest, ChecksInOrder) {
    EXPECT_EQ(checkRetrievalInput(" ", "", "", "").message, "Please fill the unsubscribe mail ID.");
    EXPECT_EQ(checkRetrievalInput("u", " ", "", "").message, "Please fill the password.");
    EXPECT_EQ(checkRetrievalInput("u", "p", "", "").message, "Please fill the mail server.");
    EXPECT_EQ(checkRetrievalInput("u", "p", "s", "\t").message,
              "Please specify the file name where results are to be stored.");
    EXPECT_TRUE(checkRetrievalInput("u", "p", "s", "f").ok());
}

}  // namespace
}  // namespace qm
