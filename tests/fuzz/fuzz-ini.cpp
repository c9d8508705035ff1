#include "backup/active-collection.h"

#include "fuzz-support.h"

#include <algorithm>

using namespace kestrel;

namespace {

size_t sectionCount(const std::string &ini)
{
	size_t sections = ini.rfind('[', 0) == 0 ? 1 : 0;
	for (size_t at = ini.find("\n["); at != std::string::npos; at = ini.find("\n[", at + 1))
		++sections;
	return sections;
}

} // namespace

// The input is an ini text and, after its first NUL byte, a collection name. Whatever the name
// holds, it replaces one value: the file keeps its lines and its sections.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string input(reinterpret_cast<const char *>(data), size);
	const size_t split = std::min(input.find('\0'), input.size());
	const std::string ini = input.substr(0, split);
	const std::string name = split < input.size() ? input.substr(split + 1) : std::string();
	for (const char *key : {"SceneCollection", "SceneCollectionFile"}) {
		const auto changed = withIniValue(ini, key, name);
		if (!changed)
			continue;
		fuzz::require(std::count(changed->begin(), changed->end(), '\n') ==
				  std::count(ini.begin(), ini.end(), '\n'),
			      "as many lines as before");
		fuzz::require(sectionCount(*changed) == sectionCount(ini), "as many sections as before");
	}
	const std::string file = sanitizeCollectionFileName(name);
	fuzz::require(
	    std::none_of(file.begin(), file.end(), [](char c) { return c == '\n' || c == '\r' || c == '/'; }),
	    "a file name of one line");
	return 0;
}
