// A retrieved message is outside input: any bytes must split into a record without a crash, a
// hang or growth, and the parts must add up to the unstuffed text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "groups/address.h"
#include "subscriptions/retrieved_message.h"
#include "subscriptions/unsubscriber_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string plain = qm::unstuffDots(text);
    if (plain.size() > text.size()) std::abort();
    qm::RetrievedMessage m = qm::parseRetrievedMessage(text, 1);
    const bool split = plain.find("\r\n\r\n") != std::string::npos;
    if (split ? m.header + "\r\n\r\n" + m.body != plain : (m.header != plain || !m.body.empty()))
        std::abort();
    if (m.from.size() > m.header.size() || m.subject.size() > m.header.size()) std::abort();
    std::size_t total = 0;
    for (const auto& [address, name] : m.addresses) total += address.size() + name.size();
    if (total > 2 * m.header.size()) std::abort();
    if (!m.subject.empty() && !m.date) std::abort();  // no subject without a Date line
    if (auto sender = qm::senderAddress(m.from); sender && !qm::isEmailAddress(*sender))
        std::abort();
    qm::requestedGroup(m.subject);
    return 0;
}
