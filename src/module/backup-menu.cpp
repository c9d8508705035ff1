#include "module/backup-menu.h"

#include "backup/backup-environment.h"
#include "delay/switch/delay-switch.h"
#include "ui/backup-dialog.h"

#include <obs-frontend-api.h>
#include <obs-module.h>

#include <QWidget>

namespace kestrel {

namespace {

std::string moduleSettingsPath()
{
	char *path = obs_module_config_path("cloud-backup.json");
	std::string settingsPath = path ? path : "";
	bfree(path);
	return settingsPath;
}

} // namespace

void addBackupMenuItem()
{
	obs_frontend_add_tools_menu_item("Cloud Backup / Restore…", openBackupDialog, nullptr);
}

void openBackupDialog(void *)
{
	BackupDialog dialog(systemBackupEnvironment(moduleSettingsPath(), obs_get_version_string()),
			    DelaySwitchKeys{{getToggleKey, setToggleKey}, {getDumpKey, setDumpKey}},
			    static_cast<QWidget *>(obs_frontend_get_main_window()));
	dialog.exec();
}

} // namespace kestrel
