#include "delivery/token_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "common/text.h"

extern char** environ;

namespace qm {

namespace {

std::string quotedCommand(std::string_view commandLine) {
    return "\"" + std::string(commandLine) + "\"";
}

bool isTokenChar(char c) {
    return c > 0x20 && c < 0x7F;
}

void killGroup(pid_t pid) {
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::optional<std::vector<std::string>> splitCommandLine(std::string_view text,
                                                         std::string* error) {
    std::vector<std::string> args;
    std::string current;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < text.size()) {
                current += text[++i];
            } else {
                current += c;
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) args.push_back(std::move(current));
            current.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '\\' && i + 1 < text.size()) {
            current += text[++i];
        } else {
            current += c;
        }
    }
    if (quote) {
        if (error) *error = "The token command has a quote that is not closed.";
        return std::nullopt;
    }
    if (inWord) args.push_back(std::move(current));
    if (args.empty()) {
        if (error) *error = "No token command is set.";
        return std::nullopt;
    }
    return args;
}

TokenResult fetchToken(std::string_view commandLine, std::chrono::milliseconds limit) {
    TokenResult out;
    const std::string named = quotedCommand(commandLine);
    auto args = splitCommandLine(commandLine, &out.error);
    if (!args) return out;

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        out.error = "The token command " + named + " could not be started: " + std::strerror(errno);
        return out;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> argv;
    for (auto& a : *args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        out.error = "The token command " + named + " could not be started: " + std::strerror(rc);
        return out;
    }

    // Read until the output closes; the limit counts from the start, whatever the command prints.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string output;
    bool tooMuch = false, timedOut = false;
    char buffer[4096];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (output.size() + static_cast<std::size_t>(n) > kMaxTokenOutput) {
            tooMuch = true;
            break;
        }
        output.append(buffer, static_cast<std::size_t>(n));
    }
    std::memset(buffer, 0, sizeof buffer);
    ::close(fds[0]);

    // The output closed: the command is ending, or has closed it and goes on; the limit holds.
    int status = 0;
    pid_t waited = 0;
    while (!timedOut && !tooMuch) {
        waited = ::waitpid(pid, &status, WNOHANG);
        if (waited == pid || (waited < 0 && errno != EINTR)) break;
        if (std::chrono::steady_clock::now() >= deadline)
            timedOut = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (timedOut || tooMuch) {
        killGroup(pid);
        wipeSecret(output);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
        out.error = "The token command " + named +
                    (timedOut ? " gave no token within " + std::to_string(seconds) +
                                    (seconds == 1 ? " second" : " seconds") + " and was stopped."
                              : " printed more than a token can be and was stopped.");
        return out;
    }
    // Helpers it left behind go with it.
    ::kill(-pid, SIGKILL);
    if (waited == pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        wipeSecret(output);
        out.error = "The token command " + named +
                    (WIFEXITED(status)
                         ? " failed with exit status " + std::to_string(WEXITSTATUS(status)) + "."
                         : " was ended by a signal.");
        return out;
    }
    std::string_view first(output);
    first = first.substr(0, first.find('\n'));
    first = trimWhite(first);
    bool valid = !first.empty();
    for (char c : first) valid = valid && isTokenChar(c);
    if (valid) {
        out.ok = true;
        out.token = std::string(first);
    } else {
        out.error = "The token command " + named +
                    (trimWhite(output).empty() ? " printed no token."
                                               : " printed something that is not a token.");
    }
    wipeSecret(output);
    return out;
}

}  // namespace qm
