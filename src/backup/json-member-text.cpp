#include "backup/json-member-text.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <vector>

namespace kestrel {

namespace {

using nlohmann::json;

struct Span {
	size_t begin;
	size_t end;
};

struct TopLevelObject {
	size_t open;              // the position of "{"
	bool empty;               // no members at all
	std::vector<Span> values; // the values of the members asked for, in file order
};

// The scanner below only ever sees text that a JSON parser accepted, so it can skip freely.
size_t skipBlanks(const std::string &text, size_t at)
{
	while (at < text.size() && std::strchr(" \t\r\n", text[at]) && text[at] != '\0')
		++at;
	return at;
}

// From an opening quote to just past the closing one.
size_t skipString(const std::string &text, size_t at)
{
	for (++at; at < text.size(); ++at) {
		if (text[at] == '\\')
			++at;
		else if (text[at] == '"')
			return at + 1;
	}
	return text.size();
}

size_t skipValue(const std::string &text, size_t at)
{
	if (text[at] == '"')
		return skipString(text, at);
	if (text[at] != '{' && text[at] != '[') {
		while (at < text.size() && !std::strchr(",}] \t\r\n", text[at]))
			++at;
		return at;
	}
	size_t depth = 0;
	while (at < text.size()) {
		const char c = text[at];
		if (c == '"') {
			at = skipString(text, at);
			continue;
		}
		++at;
		if (c == '{' || c == '[')
			++depth;
		else if ((c == '}' || c == ']') && --depth == 0)
			break;
	}
	return at;
}

std::optional<TopLevelObject> scanTopLevel(const std::string &text, const std::string &key)
{
	if (!json::accept(text))
		return std::nullopt;
	// A parser skips a UTF-8 byte order mark.
	size_t at = skipBlanks(text, text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
	if (at >= text.size() || text[at] != '{')
		return std::nullopt;
	TopLevelObject object{at, true, {}};
	for (at = skipBlanks(text, at + 1); at < text.size() && text[at] == '"';) {
		object.empty = false;
		const size_t keyEnd = skipString(text, at);
		const bool wanted = json::parse(text.substr(at, keyEnd - at)).get<std::string>() == key;
		const size_t valueBegin = skipBlanks(text, skipBlanks(text, keyEnd) + 1);
		const size_t valueEnd = skipValue(text, valueBegin);
		if (wanted)
			object.values.push_back({valueBegin, valueEnd});
		at = skipBlanks(text, valueEnd);
		if (at < text.size() && text[at] == ',')
			at = skipBlanks(text, at + 1);
	}
	return object;
}

} // namespace

std::optional<std::string> topLevelString(const std::string &text, const std::string &key)
{
	const auto object = scanTopLevel(text, key);
	if (!object || object->values.empty())
		return std::nullopt;
	const Span last = object->values.back();
	if (text[last.begin] != '"')
		return std::nullopt;
	return json::parse(text.substr(last.begin, last.end - last.begin)).get<std::string>();
}

std::optional<std::string> withTopLevelString(const std::string &text, const std::string &key,
					      const std::string &value)
{
	const auto object = scanTopLevel(text, key);
	if (!object)
		return std::nullopt;
	const std::string encoded = json(value).dump(-1, ' ', false);
	std::string out = text;
	if (object->values.empty()) {
		const std::string member = json(key).dump(-1, ' ', false) + ": " + encoded;
		out.insert(object->open + 1, object->empty ? member : member + ", ");
		return out;
	}
	for (auto span = object->values.rbegin(); span != object->values.rend(); ++span)
		out.replace(span->begin, span->end - span->begin, encoded);
	return out;
}

} // namespace kestrel
