// The import run on 1,000,000 addresses (10 % of them repeats) beside `sort -u` on the same file,
// in one run, as a ratio.
//
// usage: bench_import_run [ADDRESSES]   (default 1000000)
// The import does more than sort -u: it checks every line against the address pattern and writes
// the groups (32,000 lines each, flushed to disk) into a scratch program folder. sort runs with
// LC_ALL=C, its fastest setting. Each side runs three times; the best time counts. Both wall time
// and CPU time (user + system) are printed: on a shared machine the wall time says more about the
// neighbours than about the code.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "config/paths.h"
#include "groups/recipient_import.h"

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Times {
    double wall = 0, cpu = 0;
};

double cpuSeconds(const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec * 1e-6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec * 1e-6;
}

double processCpu() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

std::string addressFile(std::size_t n) {
    std::mt19937 rng(1);
    std::string text;
    text.reserve(n * 32);
    const std::size_t distinct = n - n / 10;
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t k = i < distinct ? i : rng() % distinct;
        text +=
            "user" + std::to_string(k) + ".name@mail" + std::to_string(k % 97) + ".example.com\r\n";
    }
    return text;
}

bool timeSort(const std::string& file, Times& out) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("LC_ALL", "C", 1);
        std::freopen("/dev/null", "w", stdout);
        ::execlp("sort", "sort", "-u", file.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    out.wall = seconds(start);
    out.cpu = cpuSeconds(usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool timeImport(const std::string& file, const std::string& home, std::size_t& groups, Times& out) {
    std::filesystem::remove_all(home);
    qm::Paths paths(home);
    paths.ensureFolders();
    qm::ImportOptions options;
    options.path = file;
    std::atomic<bool> running{true};
    auto start = std::chrono::steady_clock::now();
    double cpu = processCpu();
    qm::ImportResult r = qm::RecipientImport(paths, options).run(running);
    out.cpu = processCpu() - cpu;
    out.wall = seconds(start);
    groups = r.groups.size();
    return r.status == qm::ImportStatus::Completed;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    char dirTemplate[] = "/tmp/qm-bench-import-XXXXXX";
    std::string dir = ::mkdtemp(dirTemplate);
    std::string file = dir + "/addresses.txt";
    std::ofstream(file, std::ios::binary) << addressFile(n);

    Times bestImport{1e9, 1e9}, bestSort{1e9, 1e9};
    std::size_t groups = 0;
    for (int i = 0; i < 3; ++i) {
        Times t, s;
        if (!timeImport(file, dir + "/home", groups, t) || !timeSort(file, s)) {
            std::fprintf(stderr, "a run failed\n");
            std::filesystem::remove_all(dir);
            return 1;
        }
        bestImport = {std::min(bestImport.wall, t.wall), std::min(bestImport.cpu, t.cpu)};
        bestSort = {std::min(bestSort.wall, s.wall), std::min(bestSort.cpu, s.cpu)};
    }
    std::printf(
        "import of %zu addresses (10 %% repeats) into %zu groups: wall %.3f s, cpu %.3f s\n", n,
        groups, bestImport.wall, bestImport.cpu);
    std::printf("sort -u on the same file: wall %.3f s, cpu %.3f s\n", bestSort.wall, bestSort.cpu);
    std::printf("ratio import / sort -u: wall %.2f, cpu %.2f\n", bestImport.wall / bestSort.wall,
                bestImport.cpu / bestSort.cpu);
    std::filesystem::remove_all(dir);
    return 0;
}
