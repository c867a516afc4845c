// Appends to one of the append-only stores through the program's own writer, line after line, so
// that a test can kill it (kill -9) at any moment: the unsubscriber store of the group "G", or the
// scheduler status file. Each run goes on from what the file holds as the program reads it: an
// address the store already has is not appended again, and status lines go on after the last row.
// A subject holding the status file's separator makes every status line one that needs its mark.
// Usage: store_append_writer unsubscribers|status PROGRAM_FOLDER COUNT
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>

#include "config/paths.h"
#include "scheduler/scheduler_status.h"
#include "subscriptions/unsubscriber_store.h"

namespace {

std::string address(long i) {
    char text[64];
    std::snprintf(text, sizeof text, "reader%06ld.of-the-newsletter@example.test", i);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: store_append_writer unsubscribers|status PROGRAM_FOLDER COUNT\n";
        return 2;
    }
    const std::string store = argv[1];
    const qm::Paths paths(argv[2]);
    const long count = std::strtol(argv[3], nullptr, 10);
    std::string error;
    if (!paths.ensureFolders(&error)) {
        std::cerr << error << '\n';
        return 1;
    }
    if (store == "unsubscribers") {
        for (long i = 1; i <= count; ++i)
            if (!qm::recordUnsubscriber(paths, "G", address(i), nullptr, &error)) {
                std::cerr << error << '\n';
                return 1;
            }
        return 0;
    }
    if (store == "status") {
        const std::string path = paths.schedulerStatusFile();
        const std::time_t due = 1800000000;
        for (long i = static_cast<long>(qm::readStatusFile(path).size()) + 1; i <= count; ++i) {
            const std::string subject = "Offer " + std::to_string(i) + " ~~**~~ this week";
            if (!qm::appendStatusLine(
                    path, qm::formatStatusLine("Thread#1", "Sent", address(i), subject, due))) {
                std::cerr << "Unable to append to " << path << '\n';
                return 1;
            }
        }
        return 0;
    }
    std::cerr << "unknown store " << store << '\n';
    return 2;
}
