#pragma once

#include <obs-frontend-api.h>
#include <obs.h>

#include <cstdint>

namespace kestrel {

// Toggles within this span of an accepted toggle are dropped, whichever trigger sent them.
inline constexpr uint64_t toggleDebounceNs = 200'000'000;

// Flips delaysDisabled and turns every delay filter on or off to match, so the state is also
// saved with the scene collection. Safe from the hotkey thread and the UI thread at once.
void toggleAllDelays();

// Raises delayDumps so every delay drops what it holds, and logs how many delays that reaches.
// Dumps within toggleDebounceNs of an accepted dump are dropped, whichever trigger sent them.
void dumpAllDelays();

// OBS hotkey callback of "orv_toggle_all_delays": a press toggles, a release does nothing.
void onToggleHotkey(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);
void registerToggleHotkey();
// Unregisters at most once, and never the invalid id.
void unregisterToggleHotkey();
// The same for "orv_dump_delays": a press dumps.
void onDumpHotkey(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);
void registerDumpHotkey();
void unregisterDumpHotkey();

// Adopts the switch state from the loaded collection: off when any delay filter is disabled;
// untouched when the collection holds no delay filter.
void syncDelaysFromFilterState();
// Frontend event callback: adopts on finished loading and on a scene collection change.
void onFrontendEvent(enum obs_frontend_event event, void *data);

// The polled toggle key (Windows virtual-key code, 0 = none), stored as "delayToggleVk".
void loadToggleKey();
int getToggleKey();
void setToggleKey(int vk);
// One poll of the toggle key, from the dock's timer: a press toggles once however long it is held.
void pollToggleKey();

// The polled dump key, stored as "delayDumpVk"; polled by the same timer.
void loadDumpKey();
int getDumpKey();
void setDumpKey(int vk);
void pollDumpKey();

} // namespace kestrel
