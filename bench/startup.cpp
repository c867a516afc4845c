// Time from process start to the first painted main window of `quillmark`, offscreen.
//
// usage: bench_startup [RUNS]   (default 7)
// Each run starts the program in a fresh profile (reminder off, as for a returning user) with
// QUILLMARK_BENCH_EXIT_AFTER_PAINT=1, times from the fork to the "first paint" line, and waits for
// the program to close its window and exit. Prints every run and the medians; the program's own
// figure counts from main(), so the difference is loading the libraries.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Run {
    double fromFork = 0;
    double fromMain = 0;
    bool ok = false;
};

Run runOnce(const std::string& profile) {
    int out[2];
    if (pipe(out) != 0) return {};
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::freopen("/dev/null", "w", stderr);
        setenv("QUILLMARK_CONFIG", (profile + "/settings.ini").c_str(), 1);
        setenv("QUILLMARK_HOME", (profile + "/home").c_str(), 1);
        setenv("QUILLMARK_BENCH_EXIT_AFTER_PAINT", "1", 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        execl(QM_QUILLMARK_PATH, "quillmark", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    Run run;
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) {
        if (run.fromFork == 0 &&
            std::string(buf, static_cast<size_t>(n)).find('\n') != std::string::npos)
            run.fromFork =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
        text.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long ms = 0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
             std::sscanf(text.c_str(), "first paint: %lld ms", &ms) == 1;
    run.fromMain = static_cast<double>(ms);
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    char pattern[] = "/tmp/qm-bench-startup-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string profile = pattern;
    std::ofstream(profile + "/settings.ini") << "[Test]\nTest=n\n";
    std::vector<double> sinceStart, sinceMain;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        Run r = runOnce(profile);
        std::printf("run %d: %s first paint %.0f ms after start (%.0f ms after main())\n", i + 1,
                    r.ok ? "ok," : "FAILED,", r.fromFork, r.fromMain);
        if (!r.ok) {
            ++failed;
            continue;
        }
        sinceStart.push_back(r.fromFork);
        sinceMain.push_back(r.fromMain);
    }
    std::filesystem::remove_all(profile);
    std::printf("median of %zu runs: first paint %.0f ms after start, %.0f ms after main()\n",
                sinceStart.size(), median(sinceStart), median(sinceMain));
    return failed == 0 ? 0 : 1;
}
