#include "module/backup-menu.h"
#include "module/log.h"
#include "module/source-registry.h"

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
	kestrel::addBackupMenuItem();
	kestrel::registerDelaySources();
	KESTREL_LOG(LOG_INFO, "Module loaded (version %s)", KESTREL_VERSION);
	return true;
}

void obs_module_unload(void)
{
	KESTREL_LOG(LOG_INFO, "Module unloaded");
}
