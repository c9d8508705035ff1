#include "backup/indented-json.h"

#include <vector>

namespace kestrel {

using Json = nlohmann::ordered_json;

namespace {

constexpr size_t kIndent = 4;

struct OpenContainer {
	const Json *container;
	Json::const_iterator next;
};

// Writes a scalar or an empty container whole; a filled container only opens and is pushed.
void beginValue(const Json &value, std::string &out, std::vector<OpenContainer> &open)
{
	if (!value.is_structured())
		out += value.dump(-1, ' ', false);
	else if (value.empty())
		out += value.is_object() ? "{}" : "[]";
	else {
		out += value.is_object() ? "{\n" : "[\n";
		open.push_back({&value, value.begin()});
	}
}

} // namespace

std::string indentedJson(const Json &value)
{
	std::string out;
	std::vector<OpenContainer> open;
	beginValue(value, out, open);
	while (!open.empty()) {
		const Json &container = *open.back().container;
		const Json::const_iterator member = open.back().next;
		if (member == container.end()) {
			open.pop_back();
			out += '\n';
			out.append(open.size() * kIndent, ' ');
			out += container.is_object() ? '}' : ']';
			continue;
		}
		++open.back().next;
		if (member != container.begin())
			out += ",\n";
		out.append(open.size() * kIndent, ' ');
		if (container.is_object()) {
			out += Json(member.key()).dump(-1, ' ', false);
			out += ": ";
		}
		beginValue(*member, out, open);
	}
	return out;
}

} // namespace kestrel
