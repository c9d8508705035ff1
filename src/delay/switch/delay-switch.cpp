#include "delay/switch/delay-switch.h"

#include "delay/delay-ids.h"
#include "delay/delays-disabled.h"
#include "module/log.h"
#include "platform/key-state.h"
#include "ui/settings-store.h"

#include <util/platform.h>

#include <atomic>
#include <mutex>

namespace kestrel {
namespace {

// Held from the debounce test to the last filter changed: two triggers at once can neither both
// pass the debounce nor leave the filters half in one state and half in the other.
std::mutex toggleMutex;
uint64_t lastToggleNs = 0;

std::atomic<int> toggleKeyVk{0};
bool toggleKeyWasDown = false;
obs_hotkey_id toggleHotkeyId = OBS_INVALID_HOTKEY_ID;

const QString toggleKeySetting = QStringLiteral("delayToggleVk");

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
	const uint64_t now = os_gettime_ns();
	if (now - lastToggleNs < toggleDebounceNs)
		return;
	lastToggleNs = now;
	const bool wasDisabled = delaysDisabled.load();
	delaysDisabled.store(!wasDisabled);

	const bool enable = wasDisabled;
	forEachDelayFilter([enable](obs_source_t *filter) {
		if (obs_source_enabled(filter) != enable)
			obs_source_set_enabled(filter, enable);
	});
	KESTREL_LOG(LOG_INFO, "delays %s", wasDisabled ? "REACTIVADOS" : "DESACTIVADOS (todo en vivo)");
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
	if (toggleHotkeyId == OBS_INVALID_HOTKEY_ID)
		return;
	obs_hotkey_unregister(toggleHotkeyId);
	toggleHotkeyId = OBS_INVALID_HOTKEY_ID;
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
		KESTREL_LOG(LOG_WARNING, "delays start DISABLED (filter eye off) — press the key to enable");
}

void onFrontendEvent(enum obs_frontend_event event, void *)
{
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING ||
	    event == OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED)
		syncDelaysFromFilterState();
}

void loadToggleKey()
{
	toggleKeyVk.store(userSettingsStore().value(toggleKeySetting, 0).toInt());
}

int getToggleKey()
{
	return toggleKeyVk.load();
}

void setToggleKey(int vk)
{
	toggleKeyVk.store(vk);
	QSettings store = userSettingsStore();
	store.setValue(toggleKeySetting, vk);
	store.sync();
}

void pollToggleKey()
{
	const int vk = toggleKeyVk.load();
	const bool down = vk > 0 && platform::isKeyDown(static_cast<uint32_t>(vk));
	if (down && !toggleKeyWasDown)
		toggleAllDelays();
	toggleKeyWasDown = down;
}

} // namespace kestrel
