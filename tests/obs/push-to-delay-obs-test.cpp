#include "filtered-source.h"
#include "held-key-span.h"
#include "obs-harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::test {
namespace {

std::vector<obs_hotkey_t *> pushToDelayHotkeysOf(obs_source_t *source)
{
	return hotkeysOf(source, "orv_push_to_delay");
}

// The filter registers its hotkey on the next video tick after it is added.
std::vector<obs_hotkey_t *> waitForHotkeys(obs_source_t *source)
{
	for (int i = 0; i < 100 && pushToDelayHotkeysOf(source).empty(); ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	return pushToDelayHotkeysOf(source);
}

class PushToDelayInObs : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (!ObsHarness::hasVideo())
			GTEST_SKIP()
			    << "the hotkey is registered from video ticks, and there is no video here";
	}
};

TEST_F(PushToDelayInObs, EachInstanceRegistersItsHotkeyOnItsMicrophone)
{
	FilteredSource first("orv_push_to_delay", nullptr, "Kestrel first mic");
	NamedSource secondMic("Kestrel second mic");
	OBSSourceAutoRelease second = obs_source_create_private("orv_push_to_delay", "second", nullptr);
	first.attachFilter();
	obs_source_filter_add(secondMic.get(), second);

	const auto firstKeys = waitForHotkeys(first.source());
	const auto secondKeys = waitForHotkeys(secondMic.get());
	ASSERT_EQ(firstKeys.size(), 1u);
	ASSERT_EQ(secondKeys.size(), 1u);
	EXPECT_STREQ(obs_hotkey_get_description(firstKeys[0]),
		     "Push-to-Delay (mantener para enviar la voz al delay)");
	EXPECT_NE(obs_hotkey_get_id(firstKeys[0]), obs_hotkey_get_id(secondKeys[0]));

	// OBS destroys a released filter on a thread of its own.
	obs_source_filter_remove(secondMic.get(), second);
	second = nullptr;
	for (int i = 0; i < 100 && !pushToDelayHotkeysOf(secondMic.get()).empty(); ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	EXPECT_TRUE(pushToDelayHotkeysOf(secondMic.get()).empty())
	    << "a destroyed filter takes its hotkey along";
}

// The hotkey pressed the way OBS's interface and obs-websocket press it (hotkeys routed through
// the frontend): a held span is silent live and plays 0.5 s later, exactly as long.
TEST_F(PushToDelayInObs, HotkeyHeldForASpanDelaysExactlyThatSpan)
{
	FilteredSource mic("orv_push_to_delay", pushToDelaySettings(0), "Kestrel hotkey mic");
	mic.attachFilter();
	const auto hotkeys = waitForHotkeys(mic.source());
	ASSERT_EQ(hotkeys.size(), 1u);
	const obs_hotkey_id id = obs_hotkey_get_id(hotkeys[0]);

	obs_hotkey_enable_callback_rerouting(true);
	const HeldKeySpan span = measureHeldKeySpan(
	    mic.source(), [&](bool held) { obs_hotkey_trigger_routed_callback(id, held); });
	obs_hotkey_enable_callback_rerouting(false);
	expectHeldSpanDelayedExactly(span);
}

} // namespace
} // namespace kestrel::test
