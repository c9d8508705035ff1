#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

// More than any scene collection, profile or ini file holds; a file past it is damaged or hostile.
inline constexpr uint64_t kLargestSettingsFile = uint64_t(256) << 20;

// The whole regular file at a UTF-8 path; nothing when it cannot be opened or read, is not a
// regular file (a FIFO or a link to a device in its place) or holds more than `maxBytes`.
std::optional<std::string> readFileBytes(const std::string &path, uint64_t maxBytes = kLargestSettingsFile);

} // namespace kestrel
