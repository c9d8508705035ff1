#pragma once

#include "backup/auto-backup-state.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace kestrel {

// The last automatic backup's outcome, for the dialog and the dock. Any thread may publish;
// readers poll the version, which changes with every publish.
void publishAutoBackupOutcome(const AutoBackupOutcome &outcome);
std::optional<AutoBackupOutcome> latestAutoBackupOutcome();
uint64_t autoBackupOutcomeVersion();

// "Last automatic backup: 2026-12-09 19:30 — 12 files copied, 0 skipped", in the current language.
QString autoBackupOutcomeLine(const std::optional<AutoBackupOutcome> &outcome);

} // namespace kestrel
