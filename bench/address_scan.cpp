// Address search throughput beside `grep -oE` with the same pattern on the same file, in one run.
//
// usage: bench_address_scan [MEGABYTES]   (default 100)
// Mixed text: prose-like lines with an address every few hundred bytes. Hostile text: letters and
// dots without any "@", and the same with an "@" every 64 KB (10 MB and 100 MB each, to show the
// time grows linearly).
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "groups/address.h"

namespace {

constexpr unsigned kGrepLimitSeconds = 60;

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string mixedText(size_t bytes) {
    std::mt19937 rng(1);
    const char* words[] = {
        "the",      "campaign", "offer", "Dear", "customer,", "price:", "12.50", "www.example.com",
        "reply-to", "a.b_c",    "--",    "end.", "(see",      "below)"};
    std::string text;
    text.reserve(bytes + 128);
    while (text.size() < bytes) {
        if (rng() % 25 == 0)
            text += "user" + std::to_string(rng() % 100000) + "@mail" + std::to_string(rng() % 50) +
                    ".example.com";
        else
            text += words[rng() % (sizeof words / sizeof *words)];
        text += (rng() % 12 == 0) ? '\n' : ' ';
    }
    return text;
}

std::string hostileText(size_t bytes) {
    std::string text(bytes, 'a');
    for (size_t i = 2; i < bytes; i += 3) text[i] = '.';
    return text;
}

// Long runs of local-part characters that each end in an "@" whose domain fails: every "@" makes
// the search look back over its whole run.
std::string hostileWithAt(size_t bytes) {
    std::string text = hostileText(bytes);
    for (size_t i = 65536; i < bytes; i += 65536) text[i] = '@';
    return text;
}

double timeOurs(const std::string& text, size_t& count) {
    auto t0 = std::chrono::steady_clock::now();
    count = 0;
    qm::forEachEmailAddress(text, [&](std::string_view) { ++count; });
    return seconds(t0);
}

// grep's matches are read back through a pipe and counted: GNU grep stops at the first match when
// its output is /dev/null, which would not be a fair comparison.
double timeGrep(const std::string& file, size_t& count) {
    std::fflush(stdout);
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        ::setenv("LC_ALL", "C", 1);
        ::alarm(kGrepLimitSeconds);  // grep is quadratic on some hostile texts
        ::execlp("grep", "grep", "-oE", qm::kAddressPattern, file.c_str(), (char*)nullptr);
        std::_Exit(127);
    }
    ::close(fds[1]);
    count = 0;
    char buf[1 << 16];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        for (ssize_t i = 0; i < n; ++i) count += buf[i] == '\n';
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    double took = seconds(t0);
    // grep exits 1 when it finds nothing, which is a valid outcome on hostile text.
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        std::fprintf(stderr, "grep stopped after %u s\n", kGrepLimitSeconds);
    else if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
        std::fprintf(stderr, "grep failed (status %d)\n", status);
    return took;
}

void compare(const char* label, const std::string& text) {
    std::string file = "/tmp/qm-bench-address-" + std::to_string(::getpid()) + ".txt";
    std::ofstream(file, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
    size_t count = 0, grepCount = 0;
    double ours = timeOurs(text, count);
    double grep = timeGrep(file, grepCount);
    double mb = static_cast<double>(text.size()) / 1e6;
    std::printf(
        "%-16s %7.1f MB  quillmark %8.3f s (%7.1f MB/s, %zu found)  grep -oE %8.3f s "
        "(%7.1f MB/s)  ratio %.2fx\n",
        label, mb, ours, mb / ours, count, grep, mb / grep, grep / ours);
    std::remove(file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    compare("mixed", mixedText(mb * 1000000));
    compare("hostile 10 MB", hostileText(10 * 1000000));
    compare("hostile 100 MB", hostileText(100 * 1000000));
    compare("hostile @ 10 MB", hostileWithAt(10 * 1000000));
    compare("hostile @ 100 MB", hostileWithAt(100 * 1000000));
    return 0;
}
