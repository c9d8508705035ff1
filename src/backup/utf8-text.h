#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// Well-formed UTF-8: no stray or overlong sequences, no surrogates, nothing past U+10FFFF.
bool isValidUtf8(std::string_view text);

// The text with everything that could steer a terminal or hide what it shows written out
// instead: control characters (C0, DEL, C1) and bytes that are not UTF-8 as \xNN, direction
// overrides and line separators as \u{NNNN}. Names and paths from a backup folder or a
// manifest pass through here before they are printed.
std::string printable(std::string_view text);

} // namespace kestrel
