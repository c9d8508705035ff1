#include "delay/switch/delay-switch.h"

#include "common/log.h"
#include "common/settings-store.h"
#include "delay/delay-ids.h"
#include "delay/delays-disabled.h"
#include "delay/switch/delay-switch-host.h"
#include "platform/key-state.h"

#include <util/platform.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace kestrel {
namespace {

// Held from the debounce test to the last filter changed: two triggers at once can neither both
// pass the debounce nor leave the filters half in one state and half in the other.
std::mutex toggleMutex;
uint64_t lastToggleNs = 0;

std::mutex dumpMutex;
uint64_t lastDumpNs = 0;

obs_hotkey_id toggleHotkeyId = OBS_INVALID_HOTKEY_ID;
obs_hotkey_id dumpHotkeyId = OBS_INVALID_HOTKEY_ID;

// A desktop key polled by the dock's timer, stored per user: a press acts once however long
// it is held.
struct PolledKey {
	const char *setting;
	void (*action)();
	std::atomic<int> vk{0};
	bool wasDown = false;

	void load() { vk.store(userSettingsStore().value(QLatin1String(setting), 0).toInt()); }
	void set(int newVk)
	{
		vk.store(newVk);
		QSettings store = userSettingsStore();
		store.setValue(QLatin1String(setting), newVk);
		store.sync();
	}
	void poll()
	{
		const int code = vk.load();
		const bool down = code > 0 && platform::isKeyDown(static_cast<uint32_t>(code));
		if (down && !wasDown)
			action();
		wasDown = down;
	}
};

PolledKey toggleKey{"delayToggleVk", toggleAllDelays};
PolledKey dumpKey{"delayDumpVk", dumpAllDelays};

// Called under the lock that guards `lastAcceptedNs`.
bool passesDebounce(uint64_t &lastAcceptedNs)
{
	const uint64_t now = os_gettime_ns();
	if (now - lastAcceptedNs < toggleDebounceNs)
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

void toggleAllDelays()
{
	std::lock_guard guard(toggleMutex);
	if (!passesDebounce(lastToggleNs))
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

void onToggleHotkey(void *, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (pressed)
		toggleAllDelays();
}

void registerToggleHotkey()
{
	toggleHotkeyId = obs_hotkey_register_frontend(
	    "orv_toggle_all_delays", "Kestrel: activar/desactivar todos los delays", onToggleHotkey, nullptr);
}

void unregisterToggleHotkey()
{
	unregisterHotkey(toggleHotkeyId);
}

void dumpAllDelays()
{
	{
		std::lock_guard guard(dumpMutex);
		if (!passesDebounce(lastDumpNs))
			return;
	}
	delayDumps.fetch_add(1);
	int dumped = 0;
	forEachDelayFilter([&dumped](obs_source_t *) { ++dumped; });
	obs_enum_sources(countPlaybackSource, &dumped);
	KESTREL_LOG(Info, "delays DUMPED: %d delay(s) dropped everything they held", dumped);
}

void onDumpHotkey(void *, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (pressed)
		dumpAllDelays();
}

void registerDumpHotkey()
{
	dumpHotkeyId = obs_hotkey_register_frontend(
	    "orv_dump_delays", "Kestrel: descartar lo demorado (dump)", onDumpHotkey, nullptr);
}

void unregisterDumpHotkey()
{
	unregisterHotkey(dumpHotkeyId);
}

void syncDelaysFromFilterState()
{
	std::lock_guard guard(toggleMutex);
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

void onFrontendEvent(enum obs_frontend_event event, void *)
{
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING)
		showDelaySwitchDockOnFirstStart();
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING ||
	    event == OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED)
		syncDelaysFromFilterState();
}

void loadToggleKey()
{
	toggleKey.load();
}

int getToggleKey()
{
	return toggleKey.vk.load();
}

void setToggleKey(int vk)
{
	toggleKey.set(vk);
}

void pollToggleKey()
{
	toggleKey.poll();
}

void loadDumpKey()
{
	dumpKey.load();
}

int getDumpKey()
{
	return dumpKey.vk.load();
}

void setDumpKey(int vk)
{
	dumpKey.set(vk);
}

void pollDumpKey()
{
	dumpKey.poll();
}

} // namespace kestrel
