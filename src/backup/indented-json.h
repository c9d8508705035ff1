#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace kestrel {

// The same text as value.dump(4) (raw UTF-8, invalid UTF-8 throws), written without
// recursion: a scene collection may nest deeper than the stack allows.
std::string indentedJson(const nlohmann::ordered_json &value);

} // namespace kestrel
