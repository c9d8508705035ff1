#include "delay/switch/delay-switch.h"

#include "common/log.h"
#include "common/settings-store.h"
#include "delay/delay-ids.h"
#include "delay/delays-disabled.h"
#include "delay/switch/delay-switch-host.h"
#include "platform/key-state.h"

#include <util/platform.h>

#include <cstring>

namespace kestrel {
namespace {

// Called under the lock that guards `lastAcceptedNs`.
bool passesDebounce(uint64_t &lastAcceptedNs)
{
	const uint64_t now = os_gettime_ns();
	if (now - lastAcceptedNs < DelaySwitch::debounceNs)
		return false;
	lastAcceptedNs = now;
	return true;
}

void unregisterHotkey(obs_hotkey_id &id)
{
	if (id == OBS_INVALID_HOTKEY_ID)
		return;
	obs_hotkey_unregister(id);
	id = OBS_INVALID_HOTKEY_ID;
}

bool countPlaybackSource(void *count, obs_source_t *source)
{
	if (std::strcmp(obs_source_get_id(source), "orv_delay_playback") == 0)
		++*static_cast<int *>(count);
	return true;
}

template <typename Visit> void visitIfDelayFilter(obs_source_t *, obs_source_t *filter, void *visit)
{
	if (isDelayTypeId(obs_source_get_id(filter)))
		(*static_cast<Visit *>(visit))(filter);
}

template <typename Visit> bool visitFiltersOf(void *visit, obs_source_t *source)
{
	obs_source_enum_filters(source, visitIfDelayFilter<Visit>, visit);
	return true;
}

// Calls `visit` for every filter of a delay type on every source.
template <typename Visit> void forEachDelayFilter(Visit visit)
{
	obs_enum_all_sources(visitFiltersOf<Visit>, &visit);
}

} // namespace

void DelaySwitch::PolledKey::load()
{
	vk.store(userSettingsStore().value(QLatin1String(setting), 0).toInt());
}

void DelaySwitch::PolledKey::set(int newVk)
{
	vk.store(newVk);
	QSettings store = userSettingsStore();
	store.setValue(QLatin1String(setting), newVk);
	store.sync();
}

bool DelaySwitch::PolledKey::pressedSinceLastPoll()
{
	const int code = vk.load();
	const bool down = code > 0 && platform::isKeyDown(static_cast<uint32_t>(code));
	const bool pressed = down && !wasDown;
	wasDown = down;
	return pressed;
}

void DelaySwitch::toggleAll()
{
	std::lock_guard guard(toggleMutex_);
	if (!passesDebounce(lastToggleNs_))
		return;
	const bool wasDisabled = delaysDisabled.load();
	delaysDisabled.store(!wasDisabled);

	const bool enable = wasDisabled;
	forEachDelayFilter([enable](obs_source_t *filter) {
		if (obs_source_enabled(filter) != enable)
			obs_source_set_enabled(filter, enable);
	});
	KESTREL_LOG(Info, "delays %s", wasDisabled ? "REACTIVADOS" : "DESACTIVADOS (todo en vivo)");
}

void DelaySwitch::dumpAll()
{
	{
		std::lock_guard guard(dumpMutex_);
		if (!passesDebounce(lastDumpNs_))
			return;
	}
	delayDumps.fetch_add(1);
	int dumped = 0;
	forEachDelayFilter([&dumped](obs_source_t *) { ++dumped; });
	obs_enum_sources(countPlaybackSource, &dumped);
	KESTREL_LOG(Info, "delays DUMPED: %d delay(s) dropped everything they held", dumped);
}

void DelaySwitch::registerHotkeys()
{
	toggleHotkeyId_ = obs_hotkey_register_frontend(
	    "orv_toggle_all_delays", "Kestrel: activar/desactivar todos los delays", onToggleHotkey, this);
	dumpHotkeyId_ = obs_hotkey_register_frontend(
	    "orv_dump_delays", "Kestrel: descartar lo demorado (dump)", onDumpHotkey, this);
}

void DelaySwitch::unregisterHotkeys()
{
	unregisterHotkey(dumpHotkeyId_);
	unregisterHotkey(toggleHotkeyId_);
}

void DelaySwitch::onToggleHotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (pressed)
		static_cast<DelaySwitch *>(data)->toggleAll();
}

void DelaySwitch::onDumpHotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (pressed)
		static_cast<DelaySwitch *>(data)->dumpAll();
}

void DelaySwitch::syncFromFilterState()
{
	std::lock_guard guard(toggleMutex_);
	bool found = false;
	bool anyDisabled = false;
	forEachDelayFilter([&](obs_source_t *filter) {
		found = true;
		anyDisabled = anyDisabled || !obs_source_enabled(filter);
	});
	if (!found)
		return;
	delaysDisabled.store(anyDisabled);
	if (anyDisabled)
		KESTREL_LOG(Warning, "delays start DISABLED (filter eye off) — press the key to enable");
}

void DelaySwitch::onFrontendEvent(enum obs_frontend_event event, void *data)
{
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING)
		showDelaySwitchDockOnFirstStart();
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING ||
	    event == OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED)
		static_cast<DelaySwitch *>(data)->syncFromFilterState();
}

void DelaySwitch::loadKeys()
{
	toggleKey_.load();
	dumpKey_.load();
}

void DelaySwitch::pollToggleKey()
{
	if (toggleKey_.pressedSinceLastPoll())
		toggleAll();
}

void DelaySwitch::pollDumpKey()
{
	if (dumpKey_.pressedSinceLastPoll())
		dumpAll();
}

DelaySwitch &delaySwitch()
{
	static DelaySwitch instance;
	return instance;
}

} // namespace kestrel
