// Any page gives readable text: valid UTF-8, no NUL, never three line ends in a row, and output
// linear in the page, at the builder's width and at a tiny one. The bound allows the widest line
// prefix (capped indent and a list number) on every word, as a width of 3 puts each word on its
// own line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/charset.h"
#include "message/html_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view page(reinterpret_cast<const char*>(data), size);
    for (std::size_t width : {std::size_t{76}, std::size_t{3}}) {
        std::string text = qm::htmlToText(page, width);
        if (!qm::isValidUtf8(text)) std::abort();
        if (text.find('\0') != std::string::npos) std::abort();
        if (text.find("\n\n\n") != std::string::npos) std::abort();
        if (text.size() > 32 * size + 64) std::abort();
    }
    return 0;
}
