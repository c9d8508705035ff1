#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel::platform {

// SHA-256 as 64 lower-case hexadecimal characters.
std::string sha256Hex(std::string_view bytes);

// Of a whole regular file (UTF-8 path), read in pieces; nothing when it cannot be opened or
// read or is not a regular file.
std::optional<std::string> sha256HexOfFile(const std::string &path);

} // namespace kestrel::platform
