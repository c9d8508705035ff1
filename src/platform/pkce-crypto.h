#pragma once

#include <string>
#include <string_view>

namespace kestrel::platform {

// The 32-byte SHA-256 digest of `bytes`; empty when the system's crypto service fails.
std::string sha256Digest(std::string_view bytes);

// Standard Base64 (RFC 4648) with "=" padding and no line breaks.
std::string base64Encode(std::string_view bytes);

} // namespace kestrel::platform
