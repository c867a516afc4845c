// The "Token command" of an OAuth 2 login: how its text becomes an argument vector, and what
// comes of commands that print a token, nothing, too much or something else, fail, or hang.
#include "delivery/token_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

TEST(TokenCommand, SplitsWithoutAShell) {
    using Args = std::vector<std::string>;
    struct {
        const char* text;
        std::optional<Args> want;
    } cases[] = {
        {"helper --account me", Args{"helper", "--account", "me"}},
        {"  helper\t\"two words\"  'single $HOME'  ", Args{"helper", "two words", "single $HOME"}},
        {"a\\ b \"q\\\"uote\" ''", Args{"a b", "q\"uote", ""}},
        {"helper; rm -rf / | cat > x", Args{"helper;", "rm", "-rf", "/", "|", "cat", ">", "x"}},
        {"helper \"open", std::nullopt},
        {"   ", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(splitCommandLine(c.text), c.want) << c.text;
}

class TokenCommandRun : public ::testing::Test {
  protected:
    test::TempDir dir;
    // An executable script in the temp folder; its path, quoted for the command line.
    std::string script(const std::string& name, const std::string& body) {
        dir.write(name, "#!/bin/sh\n" + body + "\n");
        ::chmod(dir.file(name).c_str(), 0700);
        return "\"" + dir.file(name) + "\"";
    }
};

TEST_F(TokenCommandRun, TokensAndFailures) {
    const std::string secret = "ya29.not-for-any-log";
    struct {
        const char* name;
        std::string command;
        bool ok;
        std::string want;  // the token, or a piece of the error text
    } cases[] = {
        {"first line, blanks trimmed; arguments arrive as given",
         script("good", "[ \"$1\" = \"a b\" ] || exit 9\nprintf '  tok-123 \\r\\nsecond\\n'") +
             " \"a b\"",
         true, "tok-123"},
        {"prints nothing", script("nothing", "exit 0"), false, "printed no token."},
        {"fails", script("fails", "echo " + secret + "; exit 3"), false,
         "failed with exit status 3."},
        {"not a token", script("words", "echo '" + secret + " and more'"), false,
         "printed something that is not a token."},
        {"not there", "/nonexistent/helper --x", false, "could not be started"},
        {"endless output", "yes " + secret, false, "printed more than a token can be"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TokenResult r = fetchToken(c.command, 20s);
        EXPECT_EQ(r.ok, c.ok) << r.error;
        if (c.ok) {
            EXPECT_EQ(r.token, c.want);
            continue;
        }
        EXPECT_TRUE(r.token.empty());
        EXPECT_NE(r.error.find(c.want), std::string::npos) << r.error;
        // The text names the command and never repeats what it printed.
        EXPECT_NE(r.error.find("\"" + c.command + "\""), std::string::npos) << r.error;
        EXPECT_EQ(r.error.find(secret, r.error.find(c.command) + c.command.size()),
                  std::string::npos)
            << r.error;
    }
}

// A command that never answers is stopped at its limit, with the helpers it started, whether it
// keeps its output open or closes it and goes on.
TEST_F(TokenCommandRun, HangingCommandsStopAtTheLimit) {
    for (const std::string& command :
         {script("hangs", "sleep 1000"), script("helper", "sleep 1000 &\nwait"),
          script("closes", "exec >&-\nsleep 1000")}) {
        SCOPED_TRACE(command);
        const auto start = std::chrono::steady_clock::now();
        TokenResult r = fetchToken(command, 1s);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("gave no token within 1 second and was stopped"), std::string::npos)
            << r.error;
    }
}

}  // namespace
}  // namespace qm
