#include "delay/switch/delay-switch-host.h"
#include "delay/switch/delay-switch.h"
#include "module/auto-backup-events.h"
#include "module/backup-menu.h"
#include "module/log.h"
#include "module/source-registry.h"
#include "platform/key-state.h"

#include <obs-frontend-api.h>
#include <obs-module.h>

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE("kestrel", "en-US")

MODULE_EXPORT const char *obs_module_description(void)
{
	return "Kestrel: cloud backup/restore of OBS scenes/profiles/media, plus per-source video/audio "
	       "delay "
	       "filters.";
}

bool obs_module_load(void)
{
	kestrel::platform::startWatchingDesktopKeys();
	kestrel::addBackupMenuItem();
	kestrel::registerDelaySources();
	kestrel::registerToggleHotkey();
	kestrel::registerDumpHotkey();
	kestrel::createDelaySwitchDock();
	obs_frontend_add_event_callback(kestrel::onFrontendEvent, nullptr);
	kestrel::startAutoBackups();
	KESTREL_LOG(LOG_INFO, "Module loaded (version %s)", KESTREL_VERSION);
	return true;
}

void obs_module_unload(void)
{
	obs_frontend_remove_event_callback(kestrel::onFrontendEvent, nullptr);
	kestrel::stopAutoBackups();
	kestrel::removeDelaySwitchDock();
	kestrel::unregisterDumpHotkey();
	kestrel::unregisterToggleHotkey();
	kestrel::platform::stopWatchingDesktopKeys();
	KESTREL_LOG(LOG_INFO, "Module unloaded");
}
