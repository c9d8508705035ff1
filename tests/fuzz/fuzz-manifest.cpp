#include "backup/manifest.h"

#include "fuzz-support.h"

using namespace kestrel;

// Reading fails only with DamagedManifest, sizes stay in range, and what was read writes and reads
// back unchanged.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	BackupManifest manifest;
	try {
		manifest = manifestFromJson(std::string(reinterpret_cast<const char *>(data), size));
	} catch (const DamagedManifest &) {
		return 0;
	}
	for (const auto *list : {&manifest.sceneCollections, &manifest.profiles, &manifest.mediaFiles})
		for (const auto &entry : *list)
			fuzz::require(entry.size >= -1, "sizes are -1 or more");
	timestampTime(manifest.createdAt);
	const std::string written = manifestToJson(manifest);
	fuzz::require(manifestToJson(manifestFromJson(written)) == written, "a written manifest reads back");
	return 0;
}
