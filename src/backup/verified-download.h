#pragma once

#include "backup/backup-types.h"
#include "providers/cloud-provider.h"

namespace kestrel {

// Downloads a stored file to `destination`, which it replaces only once the copy has the size
// and SHA-256 hash that the manifest lists for it (either may be unknown in older backups).
// False with `error` otherwise; the destination then stays as it was.
bool downloadVerified(ICloudProvider &provider, const BackupEntry &entry, const std::string &destination,
		      const ProgressCallback &progress, std::string &error);

} // namespace kestrel
