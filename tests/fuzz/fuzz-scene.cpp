#include "backup/active-collection.h"
#include "backup/json-member-text.h"
#include "backup/obs-paths.h"

#include "fuzz-support.h"

#include <nlohmann/json.hpp>

using namespace kestrel;

// The name a JSON reader would see, for comparison with the text scanner.
std::optional<std::string> parsedName(const std::string &text)
{
	const auto document = nlohmann::ordered_json::parse(text, nullptr, false);
	if (!document.is_object())
		return std::nullopt;
	const auto name = document.find("name");
	if (name == document.end() || !name->is_string())
		return std::nullopt;
	return name->get<std::string>();
}

// A scene collection of any shape and depth is scanned, read and renamed without a fault; the
// text scanner agrees with a JSON reader, and a rename reads back.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string text(reinterpret_cast<const char *>(data), size);
	fuzz::writeScratch(text);
	scanSceneMedia(fuzz::scratchFile());
	fuzz::require(topLevelString(text, "name") == parsedName(text),
		      "the scanner reads the name a parser reads");

	const std::string name = "Fuzz \u00e9 \"quoted\"";
	const std::optional<std::string> renamed = withTopLevelString(text, "name", name);
	if (renamed) {
		fuzz::require(nlohmann::json::accept(*renamed), "a renamed collection is JSON");
		fuzz::require(topLevelString(*renamed, "name") == name, "the new name reads back");
	}
	setCollectionName(fuzz::scratchFile(), name, nullptr);
	fuzz::require(!renamed || readCollectionName(fuzz::scratchFile()) == name,
		      "the renamed file reads back");
	return 0;
}
