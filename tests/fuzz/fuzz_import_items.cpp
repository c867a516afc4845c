// Import sources are any file a user points at: the tokenizer must take any bytes in every mode,
// and every line an import writes from them must read back as the same address and name with its
// thirteen fields (a name may not split the line). The quick address check must agree with the
// regex on every input and every candidate.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "groups/address.h"
#include "groups/recipient.h"
#include "groups/recipient_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (qm::isEmailAddressQuick(text) != qm::isEmailAddress(text)) std::abort();
    using qm::ImportContent;
    using qm::ImportDelimiter;
    for (const char* path : {"in.txt", "in.csv"})
        for (auto content : {ImportContent::EmailsOnly, ImportContent::EmailsAndName})
            for (auto d :
                 {ImportDelimiter::Enter, ImportDelimiter::Comma, ImportDelimiter::Semicolon})
                qm::splitImportItems(text, path, content, d, [&](const qm::ImportItem& item) {
                    // Every view lies inside the input.
                    if (item.address.data() < text.data() ||
                        item.address.data() + item.address.size() > text.data() + text.size())
                        std::abort();
                    if (qm::isEmailAddressQuick(item.address) != qm::isEmailAddress(item.address))
                        std::abort();
                    if (!qm::isEmailAddress(item.address)) return true;
                    std::string line =
                        std::string(item.address) + "," + item.name + ",,,,,,,,,,,,E";
                    qm::Recipient back = qm::parseGroupLine(line);
                    if (back.email != item.address || back.name != item.name) std::abort();
                    if (line.find_first_of("\r\n") != std::string::npos) std::abort();
                    return true;
                });
    return 0;
}
