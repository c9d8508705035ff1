#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::platform {

// The whole regular file at `path` (UTF-8, links followed). It is opened without blocking, so a
// FIFO in a file's place cannot stall the caller, and checked on the open file, so a file
// swapped for a link to /dev/zero after a look is not read forever. Nothing, with `error` set,
// when it cannot be read, is not a regular file or holds more than `maxBytes`.
std::optional<std::string> readRegularFile(const std::string &path, uint64_t maxBytes, std::string &error);

} // namespace kestrel::platform
