#include "common/log.h"
#include "common/version.h"
#include "delay/switch/delay-switch-host.h"
#include "delay/switch/delay-switch.h"
#include "module/auto-backup-events.h"
#include "module/backup-menu.h"
#include "module/source-registry.h"
#include "platform/key-state.h"
#include "ui/auto-backup-status.h"

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

namespace {

// Every layer's log lines go to the OBS log.
void obsLogSink(int level, const char *format, va_list args, void *)
{
	blogva(level, format, args);
}

} // namespace

bool obs_module_load(void)
{
	kestrel::setLogSink(&obsLogSink, nullptr);
	kestrel::platform::startWatchingDesktopKeys();
	kestrel::addBackupMenuItem();
	kestrel::registerDelaySources();
	kestrel::delaySwitch().registerHotkeys();
	kestrel::createDelaySwitchDock(kestrel::autoBackupStatusFeed);
	obs_frontend_add_event_callback(kestrel::DelaySwitch::onFrontendEvent, &kestrel::delaySwitch());
	kestrel::startAutoBackups();
	KESTREL_LOG(Info, "Module loaded (version %s)", kestrel::kestrelVersion);
	return true;
}

void obs_module_unload(void)
{
	obs_frontend_remove_event_callback(kestrel::DelaySwitch::onFrontendEvent, &kestrel::delaySwitch());
	kestrel::stopAutoBackups();
	kestrel::removeDelaySwitchDock();
	kestrel::delaySwitch().unregisterHotkeys();
	kestrel::platform::stopWatchingDesktopKeys();
	KESTREL_LOG(Info, "Module unloaded");
}
