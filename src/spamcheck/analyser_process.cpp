#include "spamcheck/analyser_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace qm {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(50);

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The inherited environment with `extra` put over it (same name replaced).
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        std::string_view name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra)
            if (std::string_view(x).substr(0, x.find('=')) == name) replaced = true;
        if (!replaced) out.emplace_back(entry);
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& items) {
    std::vector<char*> out;
    for (std::string& s : items) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Ends the child's process group and reaps the child.
void endGroup(pid_t pid, std::chrono::milliseconds grace) {
    ::kill(-pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) {
            ::kill(-pid, SIGKILL);  // helpers the child left behind
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::optional<std::string> findExecutable(const std::string& name) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? std::optional<std::string>(name) : std::nullopt;
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        std::size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/" + name;
        if (isExecutableFile(candidate)) return candidate;
        if (colon == std::string_view::npos) return std::nullopt;
        dirs.remove_prefix(colon + 1);
    }
}

ProcessOutcome runProcess(const ProcessSpec& spec, const std::atomic<bool>* cancel) {
    ProcessOutcome out;
    if (spec.argv.empty()) {
        out.error = "no program given";
        return out;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, spec.stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(
        &actions, 2, spec.stderrPath.empty() ? "/dev/null" : spec.stderrPath.c_str(),
        O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // Its own process group, so a time-out ends every helper it started; default signal
    // handling, whatever this process ignores or blocks.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> args = spec.argv;
    std::vector<std::string> env = mergedEnvironment(spec.environment);
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(env);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, args[0].c_str(), &actions, &attr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        out.error = args[0] + ": " + std::strerror(rc);
        return out;
    }

    const auto deadline = std::chrono::steady_clock::now() + spec.limit;
    while (true) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            out.kind = ProcessOutcome::Exited;
            out.exitCode = exitCodeOf(status);
            return out;
        }
        if (r < 0 && errno != EINTR) {
            out.kind = ProcessOutcome::Exited;
            out.error = std::string("waitpid: ") + std::strerror(errno);
            return out;
        }
        if (cancel && cancel->load()) {
            endGroup(pid, spec.grace);
            out.kind = ProcessOutcome::Cancelled;
            out.error = "cancelled";
            return out;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            endGroup(pid, spec.grace);
            out.kind = ProcessOutcome::TimedOut;
            out.error = "no answer within the time limit";
            return out;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

}  // namespace qm
