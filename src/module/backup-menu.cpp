#include "module/backup-menu.h"

#include "backup/backup-environment.h"
#include "delay/switch/delay-switch.h"
#include "ui/backup-dialog.h"

#include <obs-frontend-api.h>
#include <obs-module.h>

#include <QWidget>

namespace kestrel {

std::string moduleConfigFile(const char *name)
{
	char *path = obs_module_config_path(name);
	std::string file = path ? path : "";
	bfree(path);
	return file;
}

void addBackupMenuItem()
{
	obs_frontend_add_tools_menu_item("Cloud Backup / Restore…", openBackupDialog, nullptr);
}

void openBackupDialog(void *)
{
	BackupDialog dialog(
	    systemBackupEnvironment(moduleConfigFile("cloud-backup.json"), obs_get_version_string()),
	    DelaySwitchKeys{
		{[] { return delaySwitch().toggleKey(); }, [](int vk) { delaySwitch().setToggleKey(vk); }},
		{[] { return delaySwitch().dumpKey(); }, [](int vk) { delaySwitch().setDumpKey(vk); }}},
	    static_cast<QWidget *>(obs_frontend_get_main_window()));
	dialog.exec();
}

} // namespace kestrel
