#pragma once

#include "backup/backup-types.h"
#include "providers/cloud-provider.h"

#include <chrono>

namespace kestrel {

// How long a run waits for another one on the same backup before it gives up.
inline constexpr auto kLockPatience = std::chrono::seconds(3);

// Scene collections, then profile files, then media files: the order both runs work in.
std::vector<const BackupEntry *> entriesInRunOrder(const BackupManifest &manifest);

// Passes the back-end's per-file progress on with the run's own index and total.
ProgressCallback runProgressFor(const RunProgress &progress, int32_t index, int32_t total);

// Lower-cases A-Z only, byte by byte, as the C library does in the "C" locale.
std::string asciiLowerCase(std::string text);

} // namespace kestrel
