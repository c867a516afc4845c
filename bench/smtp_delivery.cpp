// Whole-run delivery speed of SmtpClient beside Postfix's smtp-source, against the same smtp-sink
// in the same run: one new connection per message, as the send engine delivers.
//
// usage: tests/peers/with_peers.sh sink -- bench_smtp_delivery [MESSAGES] [THREADS]
//        (defaults 10000 and 15; the message is ~10 KB, like smtp-source -l 10240)
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "delivery/smtp_client.h"

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    int messages = argc > 1 ? std::atoi(argv[1]) : 10000;
    int threads = argc > 2 ? std::atoi(argv[2]) : 15;
    const char* portText = std::getenv("QM_SINK_PORT");
    if (!portText) {
        std::fprintf(stderr,
                     "QM_SINK_PORT is not set: run through tests/peers/with_peers.sh sink\n");
        return 1;
    }
    int port = std::atoi(portText);

    std::string header =
        "From: <from@example.test>\r\nTo: <to@example.test>\r\nSubject: bench\r\n\r\n";
    std::string body;
    while (body.size() < 10240) body += std::string(76, 'X') + "\r\n";

    std::atomic<int> next{0}, failed{0};
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            std::vector<std::string_view> rcpt{"to@example.test"};
            while (next.fetch_add(1) < messages) {
                qm::SmtpClient client("127.0.0.1", port);
                client.setHelloDomain("client.example.test");
                bool ok = client.connect() &&
                          client.sendMessage({"<from@example.test>", rcpt, header, body}) &&
                          client.disconnect();
                if (!ok) failed.fetch_add(1);
            }
        });
    }
    for (auto& t : pool) t.join();
    double ours = seconds(start);

    std::string cmd = "smtp-source -s " + std::to_string(threads) + " -m " +
                      std::to_string(messages) +
                      " -l 10240 -f from@example.test -t to@example.test -M client.example.test "
                      "127.0.0.1:" +
                      std::to_string(port);
    start = std::chrono::steady_clock::now();
    int rc = std::system(cmd.c_str());
    double peer = seconds(start);

    std::printf("messages=%d threads=%d failed=%d\n", messages, threads, failed.load());
    std::printf("SmtpClient:   %.0f msg/s (%.2f s)\n", messages / ours, ours);
    std::printf("smtp-source:  %.0f msg/s (%.2f s)%s\n", messages / peer, peer,
                rc == 0 ? "" : " (smtp-source failed)");
    std::printf("ratio SmtpClient/smtp-source: %.2f\n", peer / ours);
    return failed.load() == 0 && rc == 0 ? 0 : 1;
}
