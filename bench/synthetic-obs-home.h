#pragma once

#include "backup/backup-environment.h"

#include <filesystem>
#include <string>

namespace kestrel::bench {

// Where the benchmarks write: KESTREL_BENCH_DIR or the temporary folder; emptied on first use.
std::filesystem::path workFolder();

void writeFile(const std::filesystem::path &file, const std::string &bytes);

// 2,000 small JSON/ini files across 20 collections and 20 profiles, plus 20 media files of
// 50 MB that the collections refer to.
const std::filesystem::path &syntheticHome();

// The synthetic configuration as the engine sees it.
BackupEnvironment syntheticEnvironment();

} // namespace kestrel::bench
