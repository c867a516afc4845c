// The settings file may have been edited by hand: any bytes must read without a crash, and what a
// write makes of the document it read must read back as that same document (a rewrite carries
// every other setting over, so a value that changed on the way would be lost for good). Any value
// must survive the escape.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const qm::SettingsDocument first = qm::parseSettingsText(text);
    const std::string written = qm::formatSettingsText(first);
    if (qm::parseSettingsText(written) != first) std::abort();

    qm::SettingsDocument one;
    one["SmtpServer"]["Password"] = std::string(text);
    const qm::SettingsDocument back = qm::parseSettingsText(qm::formatSettingsText(one));
    if (back != one) std::abort();
    return 0;
}
