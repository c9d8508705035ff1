#pragma once

#include "backup/backup-types.h"
#include "providers/cloud-provider.h"

#include <optional>

namespace kestrel {

// Far more than any real backup lists; a manifest past it is damaged or hostile.
inline constexpr uint64_t kLargestManifest = uint64_t(64) << 20;

struct StoredManifest {
	BackupManifest manifest;
	std::string text; // as stored, to tell equal manifests apart
};

// Why a stored manifest could not be read.
struct ManifestProblem {
	bool missing = false; // no such file (or the back-end cannot be reached)
	std::string text;
};

// Downloads a manifest through the temporary folder and reads it whole. A size that a listing
// gave (`listedSize`; otherwise the manifest's folder is listed) is checked before the download,
// so a huge file is never copied. Nothing, with `problem` set, when the manifest is missing,
// too large or damaged.
std::optional<StoredManifest> readStoredManifest(ICloudProvider &provider, const std::string &tempFolder,
						 const std::string &remotePath,
						 std::optional<uint64_t> listedSize,
						 ManifestProblem &problem);

} // namespace kestrel
