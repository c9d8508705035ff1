#pragma once

#include "platform/key-state.h"

#include <array>
#include <atomic>

namespace kestrel::test {

// A key state the test holds and releases, installed for every poller while it lives; it
// counts the polls so a test can tell that no key was asked for.
class ScriptedKeys final : public platform::KeyState {
public:
	ScriptedKeys() { platform::setKeyState(this); }
	~ScriptedKeys() override { platform::setKeyState(nullptr); }
	ScriptedKeys(const ScriptedKeys &) = delete;
	ScriptedKeys &operator=(const ScriptedKeys &) = delete;

	void hold(uint32_t vk) { down_[vk].store(true); }
	void release(uint32_t vk) { down_[vk].store(false); }
	int polls() const { return polls_.load(); }

	bool isKeyDown(uint32_t vk) const override
	{
		polls_.fetch_add(1);
		return vk < down_.size() && down_[vk].load();
	}

private:
	std::array<std::atomic<bool>, 256> down_{};
	mutable std::atomic<int> polls_{0};
};

} // namespace kestrel::test
