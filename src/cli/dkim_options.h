// quillmark-cli's DKIM choices on send and test-campaign, over the stored Sender Authentication
// settings.
//
// Entry points: addDkimOptions(), resolveDkim().
// Failure: none here; the run's key check is buildRunRequest()'s.
// Threads: the command line's one thread.
// Standard: none.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "delivery/dkim_settings.h"

namespace qm::cli {

struct DkimOptions {
    std::string domain, selector, key, algorithm;
    bool off = false;
};

// --dkim-domain --dkim-selector --dkim-key --dkim-algorithm --no-dkim.
void addDkimOptions(CLI::App* command, DkimOptions& o);
// The stored settings with the options over them; --no-dkim clears the domain.
DkimSettings resolveDkim(const DkimOptions& o);

}  // namespace qm::cli
