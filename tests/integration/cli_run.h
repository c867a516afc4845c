// Runs quillmark-cli ($QM_CLI) through the shell with extra environment assignments in front,
// and collects its exit status and its output (stdout and stderr together).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "peer_env.h"

namespace qm::test {

struct CliRun {
    int status;
    std::string output;  // stdout and stderr
};

inline CliRun runCli(const std::string& args, const std::string& env = {}) {
    std::string cmd = env + " " + peerEnv("QM_CLI") + " " + args + " 2>&1";
    CliRun r{-1, {}};
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace qm::test
