#pragma once

#include "backup/backup-types.h"

#include <chrono>
#include <optional>

namespace kestrel {

// The manifest file "obs-cloud-backup/manifest.json": indented by 2, keys in ascending order,
// raw UTF-8 with invalid sequences replaced by U+FFFD.
std::string manifestToJson(const BackupManifest &manifest);

// Never fails: a damaged text gives the manifest as far as it could be read.
BackupManifest manifestFromJson(const std::string &text);

// The current UTC time to the second, as 2026-03-01T18:05:09Z.
std::string currentTimestamp();

// The time such a text names; nothing when it is not one.
std::optional<std::chrono::sys_seconds> timestampTime(const std::string &timestamp);

} // namespace kestrel
