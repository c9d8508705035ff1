#pragma once

#include "backup/backup-types.h"
#include "backup/restore-plan.h"
#include "providers/cloud-provider.h"

#include <filesystem>

namespace kestrel {

// Downloads a stored file to `destination`, which it replaces only once the copy has the size
// and SHA-256 hash that the manifest lists for it (either may be unknown in older backups).
// False with `error` otherwise; the destination then stays as it was, and so do its folders:
// those it made are removed again when they stayed empty.
bool downloadVerified(ICloudProvider &provider, const BackupEntry &entry, const std::string &destination,
		      const ProgressCallback &progress, std::string &error);

// Removes, from the destination folders of `plan`, the temporary copies that restores killed
// before `before` left behind.
void removeStaleCopies(const std::vector<RestoreStep> &plan, std::filesystem::file_time_type before);

} // namespace kestrel
