// Two independent readers of a built message for the tests: Python's email package (run as
// /usr/bin/python3 read_mime.py) and GMime. Both give the same summary, so a test states once what
// it expects and checks it against each.
#pragma once

#include <string>
#include <vector>

namespace qm::test {

struct ReadPart {
    int depth = 0;
    std::string type;  // "text/plain", "multipart/mixed", ...
    std::string charset, filename, contentId;
    std::string bytes;  // decoded content
};

struct ReadMessage {
    bool ok = false;
    std::string error;
    std::string subject, fromName, fromAddress, messageId;
    std::string listUnsubscribe, listUnsubscribePost;  // unfolded; empty when absent
    std::string listIdName, listId;                    // List-Id: decoded phrase, identifier
    std::vector<ReadPart> parts;                       // depth first, the root first
    std::vector<std::string> defects;
};

ReadMessage readWithPython(const std::string& dataText);
ReadMessage readWithGMime(const std::string& dataText);

}  // namespace qm::test
