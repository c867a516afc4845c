// Where the servers started by tests/peers/with_peers.sh are. A missing value fails the test:
// a test that needs a server must never pass without it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qm::test {

inline std::string peerEnv(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) {
        ADD_FAILURE() << name << " is not set: run through tests/peers/with_peers.sh (ctest does)";
        return {};
    }
    return v;
}

inline int peerPort(const char* name) {
    return std::atoi(peerEnv(name).c_str());
}

}  // namespace qm::test
