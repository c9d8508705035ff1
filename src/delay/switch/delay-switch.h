#pragma once

#include <obs-frontend-api.h>
#include <obs.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace kestrel {

// The switch that turns every delay on or off and makes them drop what they hold: the OBS
// hotkeys, the keys the dock polls and the state adopted from a loaded collection. Safe from
// the hotkey thread and the UI thread at once.
class DelaySwitch {
public:
	// Toggles within this span of an accepted toggle are dropped, whichever trigger sent them.
	static constexpr uint64_t debounceNs = 200'000'000;

	DelaySwitch() = default;
	DelaySwitch(const DelaySwitch &) = delete;
	DelaySwitch &operator=(const DelaySwitch &) = delete;

	// Flips delaysDisabled and turns every delay filter on or off to match, so the state is also
	// saved with the scene collection.
	void toggleAll();
	// Raises delayDumps so every delay drops what it holds, and logs how many delays that
	// reaches. Dumps within debounceNs of an accepted dump are dropped, whichever trigger sent
	// them.
	void dumpAll();

	// "orv_toggle_all_delays" and "orv_dump_delays": a press acts, a release does nothing.
	void registerHotkeys();
	// Unregisters each at most once, and never the invalid id.
	void unregisterHotkeys();
	static void onToggleHotkey(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);
	static void onDumpHotkey(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);

	// Adopts the switch state from the loaded collection: off when any delay filter is disabled;
	// untouched when the collection holds no delay filter.
	void syncFromFilterState();
	// Frontend event callback (data: the switch): adopts on finished loading and on a scene
	// collection change.
	static void onFrontendEvent(enum obs_frontend_event event, void *data);

	// The polled keys (Windows virtual-key codes, 0 = none), stored as "delayToggleVk" and
	// "delayDumpVk". One poll each, from the dock's timer: a press acts once however long it is
	// held.
	void loadKeys();
	int toggleKey() const { return toggleKey_.vk.load(); }
	void setToggleKey(int vk) { toggleKey_.set(vk); }
	void pollToggleKey();
	int dumpKey() const { return dumpKey_.vk.load(); }
	void setDumpKey(int vk) { dumpKey_.set(vk); }
	void pollDumpKey();

private:
	// A desktop key stored per user.
	struct PolledKey {
		const char *setting;
		std::atomic<int> vk{0};
		bool wasDown = false;

		void load();
		void set(int newVk);
		// True when the key went down since the last poll.
		bool pressedSinceLastPoll();
	};

	// Held from the debounce test to the last filter changed: two triggers at once can neither
	// both pass the debounce nor leave the filters half in one state and half in the other.
	std::mutex toggleMutex_;
	uint64_t lastToggleNs_ = 0;
	std::mutex dumpMutex_;
	uint64_t lastDumpNs_ = 0;

	obs_hotkey_id toggleHotkeyId_ = OBS_INVALID_HOTKEY_ID;
	obs_hotkey_id dumpHotkeyId_ = OBS_INVALID_HOTKEY_ID;

	PolledKey toggleKey_{"delayToggleVk"};
	PolledKey dumpKey_{"delayDumpVk"};
};

// The process's one switch.
DelaySwitch &delaySwitch();

} // namespace kestrel
