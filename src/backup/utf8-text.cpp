#include "backup/utf8-text.h"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace kestrel {

namespace {

struct Character {
	char32_t code;
	size_t length;
};

// The character that starts at `at`; nothing for a byte that does not start a valid one.
std::optional<Character> characterAt(std::string_view text, size_t at)
{
	const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
	const unsigned char first = byte(at);
	if (first < 0x80)
		return Character{first, 1};
	size_t length = 0;
	char32_t code = 0, smallest = 0;
	if (first >= 0xC2 && first <= 0xDF) {
		length = 2, code = first & 0x1F, smallest = 0x80;
	} else if (first >= 0xE0 && first <= 0xEF) {
		length = 3, code = first & 0x0F, smallest = 0x800;
	} else if (first >= 0xF0 && first <= 0xF4) {
		length = 4, code = first & 0x07, smallest = 0x10000;
	} else {
		return std::nullopt;
	}
	if (text.size() - at < length)
		return std::nullopt;
	for (size_t i = 1; i < length; ++i) {
		if ((byte(at + i) & 0xC0) != 0x80)
			return std::nullopt;
		code = (code << 6) | (byte(at + i) & 0x3F);
	}
	if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
		return std::nullopt;
	return Character{code, length};
}

// Characters that reorder or break what a terminal shows around them.
bool rearrangesText(char32_t code)
{
	return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x2028 && code <= 0x202E) ||
	       (code >= 0x2066 && code <= 0x2069);
}

std::string escaped(const char *format, unsigned value)
{
	char text[16];
	std::snprintf(text, sizeof text, format, value);
	return text;
}

} // namespace

bool isValidUtf8(std::string_view text)
{
	for (size_t at = 0; at < text.size();) {
		const auto character = characterAt(text, at);
		if (!character)
			return false;
		at += character->length;
	}
	return true;
}

std::string printable(std::string_view text)
{
	std::string out;
	out.reserve(text.size());
	for (size_t at = 0; at < text.size();) {
		const auto character = characterAt(text, at);
		if (!character) {
			out += escaped("\\x%02X", static_cast<unsigned char>(text[at++]));
			continue;
		}
		const char32_t code = character->code;
		if (code < 0x20 || code == 0x7F)
			out += escaped("\\x%02X", static_cast<unsigned>(code));
		else if ((code >= 0x80 && code <= 0x9F) || rearrangesText(code))
			out += escaped("\\u{%04X}", static_cast<unsigned>(code));
		else
			out.append(text.substr(at, character->length));
		at += character->length;
	}
	return out;
}

} // namespace kestrel
