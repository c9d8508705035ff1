#pragma once

#include <optional>
#include <string>

namespace kestrel {

// Top-level string members of a JSON object, read and set in the text itself, so the rest of
// the file keeps its bytes and layout and no nesting depth costs stack or memory: a scene
// collection may be nested deeper than a recursive walk or an indented rewrite survives.

// The value of the last top-level member `key` (the one a JSON reader keeps); nothing when the
// text is not a JSON object or the member is missing or not a string.
std::optional<std::string> topLevelString(const std::string &text, const std::string &key);

// The text with every top-level member `key` set to `value` (added first when missing);
// nothing when the text is not a JSON object. Invalid UTF-8 in `value` throws
// nlohmann::json::type_error.
std::optional<std::string> withTopLevelString(const std::string &text, const std::string &key,
					      const std::string &value);

} // namespace kestrel
