#pragma once

namespace kestrel {

// Adds "Cloud Backup / Restore…" to the OBS Tools menu.
void addBackupMenuItem();

// Runs the backup dialog modally over the OBS main window.
void openBackupDialog(void *);

} // namespace kestrel
