#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrel::platform {

// Keys are Windows virtual-key codes (0 = none), the codes the filters store in their settings.
class KeyState {
public:
	virtual ~KeyState() = default;
	// True while the key is held anywhere on the desktop, whichever window has the focus. Cheap
	// and never blocking: the audio thread asks once per packet.
	virtual bool isKeyDown(uint32_t vk) const = 0;
};

// Watches the keyboard and mouse buttons of the whole desktop. `display` names the X display
// to watch (empty: the session's own); Windows has one desktop and ignores it.
std::unique_ptr<KeyState> watchDesktopKeys(const std::string &display);

namespace detail {
inline std::atomic<const KeyState *> installedKeyState{nullptr};
inline std::atomic<const KeyState *> desktopKeyState{nullptr};
inline std::unique_ptr<KeyState> desktopWatcher;

// Every key up: the answer before the desktop is watched.
class NoKeyHeld final : public KeyState {
public:
	bool isKeyDown(uint32_t) const override { return false; }
};
inline const NoKeyHeld noKeyHeld;
} // namespace detail

// Replaces the key state every poller reads, e.g. with a scripted one in tests; nullptr
// goes back to the desktop's. The caller keeps ownership and must outlive its use.
inline void setKeyState(const KeyState *replacement)
{
	detail::installedKeyState.store(replacement, std::memory_order_release);
}

// The desktop watcher has a thread of its own, so it is started and stopped with the module
// (never lazily from the audio thread that polls); outside that span every key reads up.
inline void startWatchingDesktopKeys()
{
	if (detail::desktopWatcher)
		return;
	detail::desktopWatcher = watchDesktopKeys({});
	detail::desktopKeyState.store(detail::desktopWatcher.get(), std::memory_order_release);
}

inline void stopWatchingDesktopKeys()
{
	detail::desktopKeyState.store(nullptr, std::memory_order_release);
	detail::desktopWatcher.reset();
}

// The key state the filters and the delay switch poll.
inline const KeyState &keyState()
{
	if (const KeyState *installed = detail::installedKeyState.load(std::memory_order_acquire))
		return *installed;
	if (const KeyState *desktop = detail::desktopKeyState.load(std::memory_order_acquire))
		return *desktop;
	return detail::noKeyHeld;
}

inline bool isKeyDown(uint32_t vk)
{
	return vk != 0 && keyState().isKeyDown(vk);
}

} // namespace kestrel::platform
