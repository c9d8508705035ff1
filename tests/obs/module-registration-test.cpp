#include "delay-switch-sources.h"
#include "obs-harness.h"

#include <gtest/gtest.h>

#include <obs-module.h>

#include <dlfcn.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrel::test {
namespace {

std::vector<std::string> listTypes(bool (*enumerate)(size_t, const char **))
{
	std::vector<std::string> ids;
	const char *id = nullptr;
	for (size_t i = 0; enumerate(i, &id); ++i)
		ids.emplace_back(id);
	return ids;
}

bool contains(const std::vector<std::string> &ids, const std::string &id)
{
	return std::find(ids.begin(), ids.end(), id) != ids.end();
}

size_t indexOf(const std::vector<std::string> &ids, const std::string &id)
{
	return static_cast<size_t>(std::find(ids.begin(), ids.end(), id) - ids.begin());
}

template <typename Function> Function moduleFunction(const char *name)
{
	void *handle = dlopen(KESTREL_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
	EXPECT_NE(handle, nullptr);
	auto function = reinterpret_cast<Function>(dlsym(handle, name));
	dlclose(handle);
	return function;
}

TEST(ModuleEntry, DescribesItselfAndReportsTheHeadersApiVersion)
{
	EXPECT_STREQ(
	    obs_get_module_description(ObsHarness::kestrelModule()),
	    "Kestrel: cloud backup/restore of OBS scenes/profiles/media, plus per-source video/audio delay "
	    "filters.");
	auto version = moduleFunction<uint32_t (*)()>("obs_module_ver");
	ASSERT_NE(version, nullptr);
	EXPECT_EQ(version(),
		  MAKE_SEMANTIC_VERSION(LIBOBS_API_MAJOR_VER, LIBOBS_API_MINOR_VER, LIBOBS_API_PATCH_VER));
}

TEST(ModuleEntry, RegistersTheAudioDelayAsAnAudioFilter)
{
	const auto filters = listTypes(obs_enum_filter_types);
	EXPECT_TRUE(contains(filters, "orv_screen_delay_audio"));
	EXPECT_FALSE(contains(listTypes(obs_enum_input_types), "orv_screen_delay_audio"));
	EXPECT_STREQ(obs_source_get_display_name("orv_screen_delay_audio"), "Screen Delay (audio)");
	// OBS adds OBS_SOURCE_ASYNC to every audio filter itself.
	const uint32_t kinds = OBS_SOURCE_VIDEO | OBS_SOURCE_AUDIO | OBS_SOURCE_CUSTOM_DRAW;
	EXPECT_EQ(obs_get_source_output_flags("orv_screen_delay_audio") & kinds,
		  static_cast<uint32_t>(OBS_SOURCE_AUDIO));
}

TEST(ModuleEntry, RegistersTheDuckingAndPushToDelayFiltersAfterTheAudioDelay)
{
	const auto ids = listTypes(obs_enum_filter_types);
	const size_t audio = indexOf(ids, "orv_screen_delay_audio");
	const size_t duck = indexOf(ids, "orv_screen_delay_duck");
	const size_t push = indexOf(ids, "orv_push_to_delay");
	ASSERT_LT(push, ids.size());
	EXPECT_LT(audio, duck);
	EXPECT_LT(duck, push);
	EXPECT_STREQ(obs_source_get_display_name("orv_screen_delay_duck"), "Screen Delay Ducking (audio)");
	EXPECT_STREQ(obs_source_get_display_name("orv_push_to_delay"), "Push-to-Delay (mic)");
	const uint32_t kinds = OBS_SOURCE_VIDEO | OBS_SOURCE_AUDIO | OBS_SOURCE_CUSTOM_DRAW;
	for (const char *id : {"orv_screen_delay_duck", "orv_push_to_delay"})
		EXPECT_EQ(obs_get_source_output_flags(id) & kinds, static_cast<uint32_t>(OBS_SOURCE_AUDIO))
		    << id;
}

TEST(ModuleEntry, AudioDelayPropertiesAndDefaults)
{
	obs_data_t *defaults = obs_get_source_defaults("orv_screen_delay_audio");
	ASSERT_NE(defaults, nullptr);
	EXPECT_DOUBLE_EQ(obs_data_get_double(defaults, "delay_s"), 20.0);
	obs_data_release(defaults);

	obs_properties_t *props = obs_get_source_properties("orv_screen_delay_audio");
	ASSERT_NE(props, nullptr);
	obs_property_t *delay = obs_properties_first(props);
	ASSERT_NE(delay, nullptr);
	EXPECT_STREQ(obs_property_name(delay), "delay_s");
	EXPECT_STREQ(obs_property_description(delay), "Delay");
	EXPECT_EQ(obs_property_get_type(delay), OBS_PROPERTY_FLOAT);
	EXPECT_EQ(obs_property_float_type(delay), OBS_NUMBER_SLIDER);
	EXPECT_DOUBLE_EQ(obs_property_float_min(delay), 0.0);
	EXPECT_DOUBLE_EQ(obs_property_float_max(delay), 120.0);
	EXPECT_DOUBLE_EQ(obs_property_float_step(delay), 0.1);
	EXPECT_STREQ(obs_property_float_suffix(delay), " s");

	obs_property_t *info = delay;
	ASSERT_TRUE(obs_property_next(&info));
	EXPECT_STREQ(obs_property_name(info), "info");
	EXPECT_EQ(obs_property_text_type(info), OBS_TEXT_INFO);
	EXPECT_STREQ(
	    obs_property_description(info),
	    "Set the SAME delay as the matching \"Screen Delay (video)\" filter so picture and sound stay "
	    "in sync.");
	EXPECT_FALSE(obs_property_next(&info));
	obs_properties_destroy(props);
}

// Runs before the unload below, which takes the hotkey away.
TEST(ModuleEntry, RegistersTheToggleHotkeyWhichTogglesEveryDelayOnPressOnly)
{
	const auto hotkeys = frontendHotkeys("orv_toggle_all_delays");
	ASSERT_EQ(hotkeys.size(), 1u);
	SourcesWithFilters sources;
	sources.add("Kestrel hotkey game", {"orv_screen_delay_audio", "orv_screen_delay_duck"});

	// Routed triggering is how OBS's own frontend and obs-websocket fire a hotkey.
	obs_hotkey_enable_callback_rerouting(true);
	obs_hotkey_trigger_routed_callback(hotkeys[0], true);
	obs_hotkey_trigger_routed_callback(hotkeys[0], false);
	EXPECT_EQ(sources.enabledStates(), std::vector<bool>({false, false}));
	waitOutDebounce();
	obs_hotkey_trigger_routed_callback(hotkeys[0], true);
	EXPECT_EQ(sources.enabledStates(), std::vector<bool>({true, true}));
	obs_hotkey_enable_callback_rerouting(false);
}

TEST(ModuleEntry, UnloadingTwiceIsHarmless)
{
	auto unload = moduleFunction<void (*)()>("obs_module_unload");
	ASSERT_NE(unload, nullptr);
	unload();
	unload();
	EXPECT_TRUE(frontendHotkeys("orv_toggle_all_delays").empty());
	EXPECT_TRUE(frontendHotkeys("orv_dump_delays").empty());
	// The module stays usable for OBS's own unload at shutdown.
	EXPECT_STREQ(obs_source_get_display_name("orv_screen_delay_audio"), "Screen Delay (audio)");
}

} // namespace
} // namespace kestrel::test
