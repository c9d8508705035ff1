#pragma once

#include "backup/backup-types.h"
#include "providers/cloud-provider.h"

namespace kestrel {

// Downloads a stored file to `destination`, which it replaces only once the copy has the size
// and SHA-256 hash that the manifest lists for it (either may be unknown in older backups).
// False with `error` otherwise; the destination then stays as it was.
bool downloadVerified(ICloudProvider &provider, const BackupEntry &entry, const std::string &destination,
		      const ProgressCallback &progress, std::string &error);

// The OBS configuration folder the backup was made from (the folder holding "basic/scenes"
// and "basic/profiles"); empty when no entry lies in one.
std::string backedUpConfigDir(const BackupManifest &manifest);

// Where a file of the backed-up OBS configuration goes in `configDir`; empty when the file
// lay outside `oldConfigDir` or the result would leave `configDir`.
std::string pathInConfigDir(const std::string &original, const std::string &oldConfigDir,
			    const std::string &configDir);

} // namespace kestrel
