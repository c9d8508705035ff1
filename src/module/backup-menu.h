#pragma once

#include <string>

namespace kestrel {

// A file in the module's configuration folder ("cloud-backup.json" and its neighbours).
std::string moduleConfigFile(const char *name);

// Adds "Cloud Backup / Restore…" to the OBS Tools menu.
void addBackupMenuItem();

// Runs the backup dialog modally over the OBS main window.
void openBackupDialog(void *);

} // namespace kestrel
