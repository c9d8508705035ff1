#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

namespace kestrel {

// A whole number from an untrusted file, or nothing when it lies outside [min, max] (1e300,
// 2.5, a huge unsigned value). A value that is not a number throws nlohmann::json::type_error,
// as reading it with get<int64_t>() would.
std::optional<int64_t> integerInRange(const nlohmann::json &value, int64_t min, int64_t max);

} // namespace kestrel
