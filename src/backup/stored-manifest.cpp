#include "backup/stored-manifest.h"

#include "backup/manifest.h"
#include "backup/temp-file.h"
#include "platform/regular-file.h"

namespace kestrel {

namespace {

std::optional<uint64_t> sizeInListing(ICloudProvider &provider, const std::string &remotePath)
{
	const size_t slash = remotePath.rfind('/');
	std::vector<RemoteEntry> entries;
	if (slash == std::string::npos || !provider.listFolder(remotePath.substr(0, slash), entries))
		return std::nullopt;
	for (const auto &entry : entries)
		if (entry.path == remotePath && !entry.isFolder)
			return entry.size;
	return std::nullopt;
}

} // namespace

std::optional<StoredManifest> readStoredManifest(ICloudProvider &provider, const std::string &tempFolder,
						 const std::string &remotePath,
						 std::optional<uint64_t> listedSize, ManifestProblem &problem)
{
	const std::string tooLarge =
	    "the manifest is larger than " + std::to_string(kLargestManifest >> 20) + " MB";
	if (!listedSize)
		listedSize = sizeInListing(provider, remotePath);
	if (listedSize && *listedSize > kLargestManifest) {
		problem.text = tooLarge;
		return std::nullopt;
	}
	TempFile file(tempFolder, "obs_manifest_dl.json.");
	if (file.path().empty()) {
		problem.text = "cannot create a temporary file: " + file.error();
		return std::nullopt;
	}
	if (!provider.downloadFile(remotePath, file.path(), nullptr)) {
		problem = {true, provider.lastError()};
		return std::nullopt;
	}
	std::string error;
	std::optional<std::string> text = platform::readRegularFile(file.path(), kLargestManifest, error);
	if (!text) {
		problem.text = "cannot read the downloaded manifest: " + error;
		return std::nullopt;
	}
	try {
		return StoredManifest{manifestFromJson(*text), std::move(*text)};
	} catch (const DamagedManifest &damage) {
		problem.text = std::string("the manifest is damaged: ") + damage.what();
		return std::nullopt;
	}
}

} // namespace kestrel
