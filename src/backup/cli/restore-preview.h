#pragma once

#include "backup/restore-plan.h"

#include <cstdio>

namespace kestrel::cli {

// Where each file of a restore lands and what is skipped and why, one line each, then the
// counts. Returns the number of files that would be restored.
size_t printRestorePlan(std::FILE *stream, const std::vector<RestoreStep> &plan);

} // namespace kestrel::cli
