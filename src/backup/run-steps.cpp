#include "backup/run-steps.h"

#include <algorithm>

namespace kestrel {

std::vector<const BackupEntry *> entriesInRunOrder(const BackupManifest &manifest)
{
	std::vector<const BackupEntry *> all;
	for (const auto *list : {&manifest.sceneCollections, &manifest.profiles, &manifest.mediaFiles})
		for (const auto &entry : *list)
			all.push_back(&entry);
	return all;
}

ProgressCallback runProgressFor(const RunProgress &progress, int32_t index, int32_t total)
{
	if (!progress)
		return nullptr;
	return [progress, index, total](const std::string &file, int32_t percent, int32_t, int32_t) {
		progress(file, percent, index, total);
	};
}

std::string asciiLowerCase(std::string text)
{
	std::transform(text.begin(), text.end(), text.begin(),
		       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
	return text;
}

} // namespace kestrel
