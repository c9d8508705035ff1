#pragma once

#include <obs-frontend-api.h>

namespace kestrel {

class AutoBackups;

// Hands OBS's frontend events to the automatic backups: a stream or recording that stopped,
// OBS's exit, and OBS having finished loading (on the local date of that moment).
void dispatchAutoBackupEvent(AutoBackups &backups, enum obs_frontend_event event);

// Load and unload of the module's automatic backups; unloading waits for a run at most
// 10 s after OBS's exit.
void startAutoBackups();
void stopAutoBackups();

} // namespace kestrel
