#pragma once

#include <string>

namespace kestrel {

// The top-level folder of every backup in a back-end.
inline constexpr const char *kBackupRoot = "obs-cloud-backup";

// False for a remote path that could leave the backup folder: one that does not start with
// "obs-cloud-backup/" (so no absolute path either) or has a ".." component. Remote paths come
// from manifests, which may be damaged or crafted.
bool isSafeRemotePath(const std::string &remotePath);

} // namespace kestrel
