#include "platform/key-state.h"

#include "common/log.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kestrel::platform {

namespace {

constexpr uint32_t kVkCount = 256;
using KeyBits = std::array<uint64_t, kVkCount / 64>;

// Virtual-key codes that are not letters, digits, keypad digits or F keys, with the X keysyms
// of the keys they stand for. A side-independent code lists both sides.
struct NamedKey {
	uint32_t vk;
	KeySym sym;
};
constexpr NamedKey kNamedKeys[] = {
    {0x08, XK_BackSpace},
    {0x09, XK_Tab},
    {0x0D, XK_Return},
    {0x0D, XK_KP_Enter},
    {0x10, XK_Shift_L},
    {0x10, XK_Shift_R},
    {0x11, XK_Control_L},
    {0x11, XK_Control_R},
    {0x12, XK_Alt_L},
    {0x12, XK_Alt_R},
    {0x12, XK_ISO_Level3_Shift},
    {0x13, XK_Pause},
    {0x14, XK_Caps_Lock},
    {0x1B, XK_Escape},
    {0x20, XK_space},
    {0x21, XK_Prior},
    {0x22, XK_Next},
    {0x23, XK_End},
    {0x24, XK_Home},
    {0x25, XK_Left},
    {0x26, XK_Up},
    {0x27, XK_Right},
    {0x28, XK_Down},
    {0x2C, XK_Print},
    {0x2D, XK_Insert},
    {0x2E, XK_Delete},
    {0x5B, XK_Super_L},
    {0x5C, XK_Super_R},
    {0x5D, XK_Menu},
    {0x6A, XK_KP_Multiply},
    {0x6B, XK_KP_Add},
    {0x6D, XK_KP_Subtract},
    {0x6E, XK_KP_Decimal},
    {0x6F, XK_KP_Divide},
    {0x90, XK_Num_Lock},
    {0x91, XK_Scroll_Lock},
    {0xA0, XK_Shift_L},
    {0xA1, XK_Shift_R},
    {0xA2, XK_Control_L},
    {0xA3, XK_Control_R},
    {0xA4, XK_Alt_L},
    {0xA5, XK_Alt_R},
    {0xA5, XK_ISO_Level3_Shift},
    {0xBA, XK_semicolon},
    {0xBB, XK_equal},
    {0xBC, XK_comma},
    {0xBD, XK_minus},
    {0xBE, XK_period},
    {0xBF, XK_slash},
    {0xC0, XK_grave},
    {0xDB, XK_bracketleft},
    {0xDC, XK_backslash},
    {0xDD, XK_bracketright},
    {0xDE, XK_apostrophe},
    {0xE2, XK_less},
};

// Mouse buttons by virtual-key code and X button number (X1 and X2 are X's buttons 8 and 9).
constexpr std::pair<uint32_t, int> kMouseButtons[] = {{0x01, 1}, {0x02, 3}, {0x04, 2}, {0x05, 8}, {0x06, 9}};

std::vector<NamedKey> keysymsOfAllCodes()
{
	std::vector<NamedKey> keys(std::begin(kNamedKeys), std::end(kNamedKeys));
	for (uint32_t i = 0; i < 26; ++i)
		keys.push_back({'A' + i, XK_a + i});
	for (uint32_t i = 0; i < 10; ++i) {
		keys.push_back({'0' + i, XK_0 + i});
		keys.push_back({0x60 + i, XK_KP_0 + i});
	}
	for (uint32_t i = 0; i < 24; ++i)
		keys.push_back({0x70 + i, XK_F1 + i});
	return keys;
}

bool bitSet(const unsigned char *bytes, size_t length, size_t bit)
{
	return bit / 8 < length && (bytes[bit / 8] >> (bit % 8)) & 1;
}

// Xlib's answer to a lost server is to end the process, OBS with it. For the watchers' own
// connections the server going away first (at logout, or when a test's server stops) only
// ends the watching; every other connection keeps the handler it had.
class LostConnections {
public:
	static void watch(Display *display, std::atomic<bool> &lost)
	{
		static std::once_flag installed;
		std::call_once(installed, [] { previous_ = XSetIOErrorHandler(onIoError); });
		{
			std::lock_guard guard(lock_);
			own_.push_back(display);
		}
		XSetIOErrorExitHandler(
		    display,
		    [](Display *, void *flag) { static_cast<std::atomic<bool> *>(flag)->store(true); },
		    &lost);
	}

	static void forget(Display *display)
	{
		std::lock_guard guard(lock_);
		own_.erase(std::remove(own_.begin(), own_.end(), display), own_.end());
	}

private:
	// Returning lets Xlib go on to the connection's exit handler, which only raises its flag.
	static int onIoError(Display *display)
	{
		{
			std::lock_guard guard(lock_);
			if (std::find(own_.begin(), own_.end(), display) != own_.end())
				return 0;
		}
		return previous_ ? previous_(display) : 0;
	}

	static inline std::mutex lock_;
	static inline std::vector<Display *> own_;
	static inline XIOErrorHandler previous_ = nullptr;
};

// One connection of its own to the X server, used only by the watcher thread.
class X11Desktop {
public:
	explicit X11Desktop(Display *display) : display_(display)
	{
		LostConnections::watch(display_, lost_);
		mapKeys();
		findPointer();
	}
	~X11Desktop()
	{
		LostConnections::forget(display_);
		XCloseDisplay(display_);
	}
	X11Desktop(const X11Desktop &) = delete;
	X11Desktop &operator=(const X11Desktop &) = delete;

	bool lost() const { return lost_; }

	KeyBits poll()
	{
		followLayoutChanges();
		KeyBits down{};
		char keymap[32] = {};
		XQueryKeymap(display_, keymap);
		for (const auto &[vk, keycode] : keycodes_)
			if (bitSet(reinterpret_cast<unsigned char *>(keymap), sizeof keymap, keycode))
				down[vk / 64] |= uint64_t{1} << (vk % 64);
		if (pointer_ >= 0)
			addButtons(down);
		return down;
	}

private:
	void mapKeys()
	{
		keycodes_.clear();
		for (const NamedKey &key : keysymsOfAllCodes())
			if (KeyCode code = XKeysymToKeycode(display_, key.sym))
				keycodes_.push_back({key.vk, code});
	}

	// The core protocol reports buttons 1-5 only; XInput 2 reports every button of the master
	// pointer, the side buttons included.
	void findPointer()
	{
		int opcode = 0, event = 0, error = 0, major = 2, minor = 0;
		if (!XQueryExtension(display_, "XInputExtension", &opcode, &event, &error) ||
		    XIQueryVersion(display_, &major, &minor) != Success) {
			KESTREL_LOG(Info, "XInput 2 is not available: mouse buttons read as released");
			return;
		}
		int count = 0;
		XIDeviceInfo *devices = XIQueryDevice(display_, XIAllMasterDevices, &count);
		for (int i = 0; i < count && pointer_ < 0; ++i)
			if (devices[i].use == XIMasterPointer)
				pointer_ = devices[i].deviceid;
		XIFreeDeviceInfo(devices);
	}

	void addButtons(KeyBits &down)
	{
		Window root = 0, child = 0;
		double rootX, rootY, winX, winY;
		XIButtonState buttons{};
		XIModifierState modifiers{};
		XIGroupState group{};
		if (!XIQueryPointer(display_, pointer_, DefaultRootWindow(display_), &root, &child, &rootX,
				    &rootY, &winX, &winY, &buttons, &modifiers, &group))
			return;
		for (const auto &[vk, button] : kMouseButtons)
			if (bitSet(buttons.mask, static_cast<size_t>(buttons.mask_len),
				   static_cast<size_t>(button)))
				down[vk / 64] |= uint64_t{1} << (vk % 64);
		XFree(buttons.mask);
	}

	// A new keyboard layout can move keysyms to other keycodes.
	void followLayoutChanges()
	{
		bool changed = false;
		while (XPending(display_)) {
			XEvent event;
			XNextEvent(display_, &event);
			if (event.type == MappingNotify) {
				XRefreshKeyboardMapping(&event.xmapping);
				changed = true;
			}
		}
		if (changed)
			mapKeys();
	}

	Display *display_;
	std::atomic<bool> lost_{false};
	std::vector<std::pair<uint32_t, KeyCode>> keycodes_;
	int pointer_ = -1;
};

// Asking the X server takes a round trip, so a thread of its own polls it and publishes the
// result; readers on the audio thread only load a word.
class X11KeyState final : public KeyState {
public:
	explicit X11KeyState(std::string display)
	    : thread_([this, display = std::move(display)] { run(display); })
	{
	}

	~X11KeyState() override
	{
		{
			std::lock_guard lock(mutex_);
			stopping_ = true;
		}
		wake_.notify_all();
		thread_.join();
	}

	bool isKeyDown(uint32_t vk) const override
	{
		return vk < kVkCount && (down_[vk / 64].load(std::memory_order_relaxed) >> (vk % 64)) & 1;
	}

private:
	static constexpr auto kPollInterval = std::chrono::milliseconds(10);

	void run(const std::string &name)
	{
		Display *display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
		if (!display) {
			KESTREL_LOG(Warning, "No X display: keys chosen in the delay filters and the delay "
					     "switch read as released; OBS hotkeys still work");
			return;
		}
		X11Desktop desktop(display);
		do {
			const KeyBits down = desktop.poll();
			if (desktop.lost()) {
				publish({});
				KESTREL_LOG(Warning, "Lost the X display: keys chosen in the delay filters "
						     "and the delay switch read as released");
				return;
			}
			publish(down);
		} while (waitForNextPoll());
	}

	void publish(const KeyBits &down)
	{
		for (size_t i = 0; i < down.size(); ++i)
			down_[i].store(down[i], std::memory_order_relaxed);
	}

	bool waitForNextPoll()
	{
		std::unique_lock lock(mutex_);
		return !wake_.wait_for(lock, kPollInterval, [this] { return stopping_; });
	}

	std::array<std::atomic<uint64_t>, kVkCount / 64> down_{};
	std::mutex mutex_;
	std::condition_variable wake_;
	bool stopping_ = false;
	std::thread thread_;
};

} // namespace

std::unique_ptr<KeyState> watchDesktopKeys(const std::string &display)
{
	return std::make_unique<X11KeyState>(display);
}

} // namespace kestrel::platform
