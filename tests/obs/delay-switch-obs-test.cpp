#include "delay-switch-sources.h"
#include "obs-harness.h"

#include "../platform/scripted-keys.h"
#include "../support/obs-log-capture.h"
#include "../support/scratch-settings-store.h"

#include "delay/delays-disabled.h"
#include "delay/switch/delay-switch.h"

#include <gtest/gtest.h>
#include <util/platform.h>

namespace kestrel::test {
namespace {

const std::vector<bool> allOn{true, true, true, true};
const std::vector<bool> allOff{false, false, false, false};

// A filter of no delay type, which the switch must leave alone.
void registerPlainFilter()
{
	obs_source_info info{};
	info.id = "kestrel_test_plain_filter";
	info.type = OBS_SOURCE_TYPE_FILTER;
	info.output_flags = OBS_SOURCE_AUDIO;
	info.get_name = [](void *) { return "plain"; };
	info.create = [](obs_data_t *, obs_source_t *source) -> void * { return source; };
	info.destroy = [](void *) {};
	info.filter_audio = [](void *, obs_audio_data *audio) { return audio; };
	obs_register_source(&info);
}

class DelaySwitchInObs : public ::testing::Test {
protected:
	static void SetUpTestSuite() { registerPlainFilter(); }

	void SetUp() override
	{
		waitOutDebounce();
		delaysDisabled.store(false);
		sources.add("Kestrel game", {"orv_screen_delay_audio", "orv_screen_delay_duck"});
		sources.add("Kestrel mic",
			    {"orv_push_to_delay", "orv_screen_delay_audio", "kestrel_test_plain_filter"});
	}

	// The delay filters of the two sources, in the order added; the plain filter is index 4.
	std::vector<bool> delayFilterStates() const
	{
		auto states = sources.enabledStates();
		states.erase(states.begin() + 4);
		return states;
	}

	SourcesWithFilters sources;
};

TEST_F(DelaySwitchInObs, TogglesOnlyOnceWithinTheDebounceAndTwiceBeyondIt)
{
	ObsLogCapture log;
	// The second toggle must come within the debounce; a busy machine may oversleep past it,
	// which leaves the switch on again, so that try doesn't count.
	for (int attempt = 0; attempt < 3; ++attempt) {
		const uint64_t first = os_gettime_ns();
		delaySwitch().toggleAll();
		std::this_thread::sleep_for(std::chrono::milliseconds(150));
		delaySwitch().toggleAll();
		if (os_gettime_ns() - first < DelaySwitch::debounceNs)
			break;
		waitOutDebounce();
	}
	EXPECT_TRUE(delaysDisabled.load());
	EXPECT_EQ(delayFilterStates(), allOff);
	EXPECT_TRUE(obs_source_enabled(sources.filter(4))) << "a filter of another type was switched";
	EXPECT_TRUE(log.contains(LogLevel::Info, "[Kestrel] delays DESACTIVADOS (todo en vivo)"));

	std::this_thread::sleep_for(std::chrono::milliseconds(250));
	delaySwitch().toggleAll();
	EXPECT_FALSE(delaysDisabled.load());
	EXPECT_EQ(delayFilterStates(), allOn);
	EXPECT_TRUE(log.contains(LogLevel::Info, "[Kestrel] delays REACTIVADOS"));
}

TEST_F(DelaySwitchInObs, ToggleTwiceReenablesFiltersDisabledOneByOne)
{
	obs_source_set_enabled(sources.filter(1), false);
	obs_source_set_enabled(sources.filter(4), false);
	delaySwitch().toggleAll();
	EXPECT_EQ(delayFilterStates(), allOff);
	waitOutDebounce();
	delaySwitch().toggleAll();
	EXPECT_EQ(delayFilterStates(), allOn);
	EXPECT_FALSE(obs_source_enabled(sources.filter(4))) << "a filter of another type was switched";
}

TEST_F(DelaySwitchInObs, AdoptsTheCollectionsStateOnLoadingAndCollectionChangeOnly)
{
	ObsLogCapture log;
	delaySwitch().syncFromFilterState();
	EXPECT_FALSE(delaysDisabled.load()) << "all delay filters on";

	obs_source_set_enabled(sources.filter(2), false);
	for (int event = OBS_FRONTEND_EVENT_STREAMING_STARTING; event <= OBS_FRONTEND_EVENT_THEME_CHANGED;
	     ++event)
		if (event != OBS_FRONTEND_EVENT_FINISHED_LOADING &&
		    event != OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED)
			DelaySwitch::onFrontendEvent(static_cast<obs_frontend_event>(event), &delaySwitch());
	EXPECT_FALSE(delaysDisabled.load()) << "an unrelated event adopted the filters' state";
	EXPECT_TRUE(log.lines().empty());

	DelaySwitch::onFrontendEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING, &delaySwitch());
	EXPECT_TRUE(delaysDisabled.load());
	EXPECT_TRUE(log.contains(
	    LogLevel::Warning, "[Kestrel] delays start DISABLED (filter eye off) — press the key to enable"));

	// Off because one filter was off: the next toggle turns every delay on.
	delaySwitch().toggleAll();
	EXPECT_FALSE(delaysDisabled.load());
	EXPECT_EQ(delayFilterStates(), allOn);
	DelaySwitch::onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED, &delaySwitch());
	EXPECT_FALSE(delaysDisabled.load());
}

TEST(DelaySwitchAdoption, ACollectionWithoutDelayFiltersLeavesTheSwitchAlone)
{
	SourcesWithFilters sources;
	sources.add("Kestrel plain", {"kestrel_test_plain_filter"});
	obs_source_set_enabled(sources.filter(0), false);
	for (bool disabled : {true, false}) {
		delaysDisabled.store(disabled);
		delaySwitch().syncFromFilterState();
		EXPECT_EQ(delaysDisabled.load(), disabled);
	}
}

TEST_F(DelaySwitchInObs, AHeldPolledKeyTogglesOnceAndTheKeyIsStored)
{
	ScratchSettingsStore store;
	ScriptedKeys keys;
	delaySwitch().setToggleKey(0x78); // F9
	EXPECT_EQ(ScratchSettingsStore::open().value("delayToggleVk").toInt(), 0x78);

	keys.hold(0x78);
	for (int tick = 0; tick < 25; ++tick) { // a second of 40 ms ticks
		delaySwitch().pollToggleKey();
		std::this_thread::sleep_for(std::chrono::milliseconds(40));
	}
	EXPECT_TRUE(delaysDisabled.load());
	EXPECT_EQ(delayFilterStates(), allOff);

	keys.release(0x78);
	delaySwitch().pollToggleKey();
	keys.hold(0x78);
	delaySwitch().pollToggleKey();
	EXPECT_FALSE(delaysDisabled.load()) << "a second press toggles again";
	keys.release(0x78);
	delaySwitch().pollToggleKey();

	delaySwitch().setToggleKey(0);
	const int pollsBefore = keys.polls();
	keys.hold(0x78);
	delaySwitch().pollToggleKey();
	EXPECT_EQ(keys.polls(), pollsBefore) << "no key chosen, yet the keyboard was polled";
	EXPECT_FALSE(delaysDisabled.load());

	ScratchSettingsStore::open().setValue("delayToggleVk", 0x20);
	delaySwitch().loadKeys();
	EXPECT_EQ(delaySwitch().toggleKey(), 0x20);
}

// The dump key shares nothing with the toggle key but the polling: a hold dumps once, counts
// the four delay filters in the log, and leaves the switch alone.
TEST_F(DelaySwitchInObs, AHeldDumpKeyDumpsOnceAndTheKeyIsStored)
{
	ScratchSettingsStore store;
	ScriptedKeys keys;
	ObsLogCapture log;
	delaySwitch().setDumpKey(0x79); // F10
	EXPECT_EQ(ScratchSettingsStore::open().value("delayDumpVk").toInt(), 0x79);
	const uint64_t before = delayDumps.load();
	keys.hold(0x79);
	for (int tick = 0; tick < 10; ++tick) {
		delaySwitch().pollDumpKey();
		delaySwitch().pollToggleKey();
		std::this_thread::sleep_for(std::chrono::milliseconds(40));
	}
	keys.release(0x79);
	delaySwitch().pollDumpKey();
	EXPECT_EQ(delayDumps.load(), before + 1);
	EXPECT_FALSE(delaysDisabled.load());
	EXPECT_EQ(delayFilterStates(), allOn);
	EXPECT_EQ(log.linesContaining("[Kestrel] delays DUMPED: 4 delay(s)").size(), 1u);

	delaySwitch().setDumpKey(0);
	ScratchSettingsStore::open().setValue("delayDumpVk", 0x21);
	delaySwitch().loadKeys();
	EXPECT_EQ(delaySwitch().dumpKey(), 0x21);
}

} // namespace
} // namespace kestrel::test
