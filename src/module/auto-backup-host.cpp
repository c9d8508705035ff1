#include "module/auto-backup-events.h"

#include "backup/backup-environment.h"
#include "module/backup-menu.h"
#include "ui/auto-backups.h"

#include <obs-module.h>

#include <memory>

namespace kestrel {

namespace {

// Together at most the 10 s a shutdown may wait for a backup.
constexpr std::chrono::seconds kExitWait{8};
constexpr std::chrono::seconds kExitStop{2};

std::unique_ptr<AutoBackups> autoBackups;

void onFrontendEvent(enum obs_frontend_event event, void *)
{
	if (autoBackups)
		dispatchAutoBackupEvent(*autoBackups, event);
}

} // namespace

void startAutoBackups()
{
	autoBackups = std::make_unique<AutoBackups>(
	    systemBackupEnvironment(moduleConfigFile("cloud-backup.json"), obs_get_version_string()),
	    moduleConfigFile("auto-backup.json"));
	obs_frontend_add_event_callback(onFrontendEvent, nullptr);
}

void stopAutoBackups()
{
	obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
	if (!autoBackups)
		return;
	if (autoBackups->finish(kExitWait, kExitStop))
		autoBackups.reset();
	else
		(void)autoBackups.release(); // the run still reports to it; it ends with the process
}

} // namespace kestrel
