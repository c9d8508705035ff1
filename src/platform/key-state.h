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
} // namespace detail

// Replaces the key state every poller reads, e.g. with a scripted one in tests; nullptr
// goes back to the desktop's. The caller keeps ownership and must outlive its use.
inline void setKeyState(const KeyState *replacement)
{
	detail::installedKeyState.store(replacement, std::memory_order_release);
}

// The key state the filters and the delay switch poll; the desktop watcher starts on first use.
inline const KeyState &keyState()
{
	if (const KeyState *installed = detail::installedKeyState.load(std::memory_order_acquire))
		return *installed;
	static const std::unique_ptr<KeyState> desktop = watchDesktopKeys({});
	return *desktop;
}

inline bool isKeyDown(uint32_t vk)
{
	return vk != 0 && keyState().isKeyDown(vk);
}

} // namespace kestrel::platform
