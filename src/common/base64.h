// Base64 (RFC 4648 alphabet, "=" padding, no line breaks): used by the MIME builder for
// attachments and inline pictures and by the SMTP client for AUTH LOGIN.
#pragma once

#include <string>
#include <string_view>

namespace qm {

std::string base64Encode(std::string_view bytes);

}  // namespace qm
