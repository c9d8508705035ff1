#pragma once

#include <optional>
#include <string>

namespace kestrel {

// The whole file at a UTF-8 path; nothing when it cannot be opened or read.
std::optional<std::string> readFileBytes(const std::string &path);

} // namespace kestrel
