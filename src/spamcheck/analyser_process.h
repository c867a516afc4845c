// Starting the spam analyser as a child process and waiting for it with a time limit.
//
// Entry points: runProcess() starts argv[0] with the argument vector as given (no shell, so paths
// with blanks, quotes or "$" pass unchanged), standard output into a file, standard error into
// another, standard input from /dev/null; findExecutable() looks a program up the way a shell
// would (a name with "/" as it is, else each folder of PATH).
//
// Failure: the outcome's kind says whether the program ran to its end, could not be started,
// overran the limit or was cancelled; `error` holds a one-line text. A program that overruns or
// is cancelled is ended with its whole process group (SIGTERM, then SIGKILL after a grace
// period), so helpers it started do not outlive it.
//
// Limits: `limit` bounds the wait; the cancel flag is looked at every 50 ms.
// Threads: any thread; the caller's thread blocks until the child has been reaped. `cancel` may
// be set from another thread.
// Standard: POSIX posix_spawn, process groups, waitpid.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qm {

struct ProcessSpec {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::string stdoutPath;         // created or truncated, mode 0600
    std::string stderrPath;         // empty: /dev/null
    // Extra NAME=value pairs put over the inherited environment.
    std::vector<std::string> environment;
    std::chrono::milliseconds limit{120000};
    std::chrono::milliseconds grace{2000};  // between SIGTERM and SIGKILL
};

struct ProcessOutcome {
    enum Kind { Exited, CannotStart, TimedOut, Cancelled };
    Kind kind = CannotStart;
    int exitCode = -1;  // Exited only; 128 + signal when a signal ended it
    std::string error;
};

ProcessOutcome runProcess(const ProcessSpec& spec, const std::atomic<bool>* cancel = nullptr);

// The path of an executable file called `name`, or nullopt.
std::optional<std::string> findExecutable(const std::string& name);

}  // namespace qm
