#include "platform/key-state.h"

#include <windows.h>

namespace kestrel::platform {

namespace {

class AsyncKeyState final : public KeyState {
public:
	bool isKeyDown(uint32_t vk) const override
	{
		// The most significant bit says "down now"; the low bit only says "pressed since the
		// last call" and is shared with every other caller in the process.
		return vk <= 0xFF && (GetAsyncKeyState(static_cast<int>(vk)) & 0x8000) != 0;
	}
};

} // namespace

std::unique_ptr<KeyState> watchDesktopKeys(const std::string &)
{
	return std::make_unique<AsyncKeyState>();
}

} // namespace kestrel::platform
