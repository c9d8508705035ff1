#include "filtered-source.h"
#include "obs-harness.h"
#include "support/obs-log-capture.h"

#include <gtest/gtest.h>

#include <util/platform.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::test {
namespace {

constexpr uint64_t kMs = 1'000'000;
constexpr size_t kRed = 0, kGreen = 1;

void sleepUntil(uint64_t time)
{
	const uint64_t now = os_gettime_ns();
	if (time > now)
		std::this_thread::sleep_for(std::chrono::nanoseconds(time - now));
}

bool waitFor(const std::function<bool()> &done, int milliseconds = 2000)
{
	for (int waited = 0; waited < milliseconds && !done(); waited += 10)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	return done();
}

OBSDataAutoRelease delaySettings(double seconds)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_double(settings, "delay_s", seconds);
	obs_data_set_int(settings, "pdv_vk", 0);
	return settings;
}

size_t countLines(const ObsLogCapture &log, const std::string &text)
{
	return log.linesContaining(text).size();
}

// How often the rendered colour changed in [from, to), per second.
double changesPerSecond(const RenderedColours &output, uint64_t from, uint64_t to)
{
	size_t changes = 0, previous = kNoFrame;
	for (const RenderedColours::Frame &frame : output.frames()) {
		if (frame.timestamp >= from && frame.timestamp < to)
			changes += frame.colour != previous;
		previous = frame.colour;
	}
	return static_cast<double>(changes) * 1e9 / static_cast<double>(to - from);
}

struct ColourChange {
	uint64_t start;  // red from here
	uint64_t change; // green from here
};

// Red for 0.2 s, then green; returns once `afterChangeNs` has passed since the change.
ColourChange redThenGreen(TestPicture &picture, uint64_t afterChangeNs)
{
	const uint64_t start = os_gettime_ns();
	sleepUntil(start + 200 * kMs);
	picture.color.store(kPalette[kGreen]);
	const uint64_t change = os_gettime_ns();
	sleepUntil(change + afterChangeNs);
	return {start, change};
}

class VideoDelayInObs : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (!ObsHarness::hasVideo())
			GTEST_SKIP() << "no X display for OpenGL";
	}
};

// Red, then green 0.2 s later, under a 0.5 s delay: live red, live green while the delay fills,
// then red again from one delay earlier, then green.
TEST_F(VideoDelayInObs, ShowsLiveUntilTheDelayHasFilledThenThePictureOfOneDelayEarlier)
{
	ObsLogCapture log;
	FilteredSource camera("orv_screen_delay_video", delaySettings(0.5), nullptr,
			      ObsHarness::testVideoSourceId());
	TestPicture &picture = testPictureOf(camera.source());
	camera.attachFilter();
	RenderedColours output(camera.source());
	const auto [start, change] = redThenGreen(picture, 800 * kMs);

	EXPECT_EQ(output.colourAt(start + 100 * kMs), kRed) << "live before the change";
	EXPECT_EQ(output.colourAt(change + 150 * kMs), kGreen) << "live while the delay fills";
	EXPECT_EQ(output.colourAt(start + 600 * kMs), kRed) << "the red of one delay earlier";
	EXPECT_EQ(output.colourAt(change + 650 * kMs), kGreen) << "the green of one delay earlier";
	EXPECT_EQ(countLines(log, "video delay on '?': capturing"), 0u);
	EXPECT_EQ(log.linesContaining("': capturing").size(), 1u);
	EXPECT_TRUE(log.contains(LOG_INFO,
				 "[Kestrel] video delay READY: showing 0.5s-delayed video (compressed "
				 "ring)"));
}

// A new palette colour at every output frame: at 30 buffer fps the delayed picture changes half
// as often as at 60, where every frame is captured. OBS's main view and the sampler render the
// source several times per frame, so this also holds only if each frame is captured once.
TEST_F(VideoDelayInObs, BufferFpsBelowTheOutputRateCapturesEverySecondFrame)
{
	double rate[2] = {};
	for (const int fps : {60, 30}) {
		OBSDataAutoRelease settings = delaySettings(0.3);
		obs_data_set_int(settings, "buffer_fps", fps);
		FilteredSource camera("orv_screen_delay_video", settings, nullptr,
				      ObsHarness::testVideoSourceId());
		testPictureOf(camera.source()).cycle.store(true);
		camera.attachFilter();
		RenderedColours output(camera.source());
		const uint64_t start = os_gettime_ns();
		sleepUntil(start + 1300 * kMs);
		rate[fps == 30] = changesPerSecond(output, start + 500 * kMs, start + 1300 * kMs);
	}
	EXPECT_GT(rate[0], 40.0) << "at 60 fps nearly every output frame is a new delayed frame";
	EXPECT_NEAR(rate[1] / rate[0], 0.5, 0.15);
}

TEST_F(VideoDelayInObs, BufferSizeIsEvenAndAtLeastTwoByTwo)
{
	struct Case {
		uint32_t width, height;
		int scale;
		const char *logged;
	};
	for (const Case &c : {Case{1, 1, 10, "@ 2x2 "}, Case{101, 51, 50, "@ 50x24 "}}) {
		ObsLogCapture log;
		OBSDataAutoRelease settings = delaySettings(5.0);
		obs_data_set_int(settings, "buffer_scale", c.scale);
		FilteredSource camera("orv_screen_delay_video", settings, nullptr,
				      ObsHarness::testVideoSourceId());
		testPictureOf(camera.source()).width.store(c.width);
		testPictureOf(camera.source()).height.store(c.height);
		camera.attachFilter();
		EXPECT_TRUE(waitFor([&] { return countLines(log, "buffering started") == 1; }));
		EXPECT_EQ(countLines(log, c.logged), 1u) << c.logged;
	}
}

// A hidden window: the reason is logged once, the picture passes through, and capturing is
// logged once again when the window returns.
TEST_F(VideoDelayInObs, SourceOfSizeZeroLogsOnceAndPassesLive)
{
	ObsLogCapture log;
	FilteredSource window("orv_screen_delay_video", delaySettings(5.0), "Kestrel hidden window",
			      ObsHarness::testVideoSourceId());
	TestPicture &picture = testPictureOf(window.source());
	window.attachFilter();
	ASSERT_TRUE(waitFor([&] { return countLines(log, "'Kestrel hidden window': capturing") == 1; }));
	picture.width.store(0);
	std::this_thread::sleep_for(std::chrono::milliseconds(200));
	picture.width.store(640);
	std::this_thread::sleep_for(std::chrono::milliseconds(200));
	EXPECT_EQ(countLines(log,
			     "'Kestrel hidden window': source size is 0 (window hidden/minimized or capture "
			     "not attached)"),
		  1u);
	EXPECT_EQ(countLines(log, "'Kestrel hidden window': capturing"), 2u);
	RenderedColours output(window.source());
	EXPECT_TRUE(waitFor([&] { return output.colourAt(0) == kRed; })) << "live, the delay is 5 s";
}

// The camera filter with its OBS hotkey held 0.4 s: nothing shows until that span comes back
// one delay later, and it vanishes 300 ms after its last frame.
TEST_F(VideoDelayInObs, PushToDelayCameraShowsTheHeldSpanOneDelayLater)
{
	FilteredSource camera("orv_push_to_delay_video", delaySettings(0.5), "Kestrel callout camera",
			      ObsHarness::testVideoSourceId());
	camera.attachFilter();
	RenderedColours output(camera.source());
	ASSERT_TRUE(waitFor([&] { return hotkeysOf(camera.source(), "orv_push_to_delay_cam").size() == 1; }))
	    << "the hotkey goes on the camera the filter sits on";
	const obs_hotkey_id id = obs_hotkey_get_id(hotkeysOf(camera.source(), "orv_push_to_delay_cam")[0]);

	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	obs_hotkey_enable_callback_rerouting(true);
	obs_hotkey_trigger_routed_callback(id, true);
	const uint64_t pressed = os_gettime_ns();
	sleepUntil(pressed + 400 * kMs);
	obs_hotkey_trigger_routed_callback(id, false);
	const uint64_t released = os_gettime_ns();
	obs_hotkey_enable_callback_rerouting(false);
	sleepUntil(released + 1100 * kMs);

	EXPECT_EQ(output.colourAt(pressed - 100 * kMs), kBlack) << "key up: the camera is hidden";
	EXPECT_EQ(output.colourAt(pressed + 300 * kMs), kBlack) << "held, but not yet delayed";
	EXPECT_EQ(output.colourAt(pressed + 700 * kMs), kRed) << "the held span, delayed";
	EXPECT_EQ(output.colourAt(released + 650 * kMs), kRed) << "its last frame still fresh";
	EXPECT_EQ(output.colourAt(released + 950 * kMs), kBlack) << "gone 300 ms after the last frame";
}

std::string bufferStatusOf(obs_source_t *filter)
{
	obs_properties_t *props = obs_source_properties(filter);
	obs_property_t *status = obs_properties_get(props, "buffer_status");
	std::string text = status ? obs_property_description(status) : "";
	obs_properties_destroy(props);
	return text;
}

// Software H.264 delays the picture like the other engines, shows its figures and its memory
// budget on the sheet, and comes back from a saved scene collection with its budget.
TEST_F(VideoDelayInObs, SoftwareH264DelaysShowsItsBufferAndSurvivesASaveAndLoad)
{
	OBSDataAutoRelease settings = delaySettings(0.3);
	obs_data_set_int(settings, "codec_engine", 2);
	obs_data_set_int(settings, "codec_memory_mb", 512);
	FilteredSource camera("orv_screen_delay_video", settings, nullptr, ObsHarness::testVideoSourceId());
	TestPicture &picture = testPictureOf(camera.source());
	camera.attachFilter();
	RenderedColours output(camera.source());
	const auto [start, change] = redThenGreen(picture, 700 * kMs);
	EXPECT_EQ(output.colourAt(start + 400 * kMs), kRed) << "the red of one delay earlier";
	EXPECT_EQ(output.colourAt(change + 450 * kMs), kGreen) << "the green of one delay earlier";

	std::string status;
	double held = -1, megabytes = -1, budget = -1, quality = -1;
	unsigned long long dropped = ~0ull;
	EXPECT_TRUE(waitFor([&] {
		status = bufferStatusOf(camera.filter());
		return std::sscanf(
			   status.c_str(),
			   "Buffer: %lf s · %lf MB of %lf MB · %llu frames dropped · H.264 (CPU) · ~%lf dB",
			   &held, &megabytes, &budget, &dropped, &quality) == 5 &&
		       held >= 0.2;
	})) << "the ring comes to span the delay: "
	    << status;
	EXPECT_EQ(budget, 512.0) << status;
	EXPECT_GT(quality, 30.0) << "a flat picture comes back nearly whole: " << status;
	EXPECT_LE(held, 0.3) << "the delay given, not the span of the group being decoded: " << status;
	EXPECT_LT(megabytes, 5.0) << status;
	EXPECT_EQ(status.find("\n"), std::string::npos) << "far below the memory cap: " << status;

	obs_properties_t *props = obs_source_properties(camera.filter());
	obs_property_t *engines = obs_properties_get(props, "codec_engine");
	ASSERT_EQ(obs_property_list_item_count(engines), 3u);
	EXPECT_EQ(obs_property_list_item_int(engines, 2), 2);
	EXPECT_STREQ(obs_property_list_item_name(engines, 2), "H.264 (CPU) — mínima RAM, delays largos");
	obs_property_t *memory = obs_properties_get(props, "codec_memory_mb");
	EXPECT_STREQ(obs_property_description(memory), "Memoria máxima (MB)");
	EXPECT_EQ(obs_property_int_min(memory), 256);
	EXPECT_EQ(obs_property_int_max(memory), 1500);
	EXPECT_TRUE(obs_property_visible(memory));
	obs_properties_destroy(props);

	OBSDataAutoRelease saved = obs_save_source(camera.source());
	OBSDataAutoRelease reread = obs_data_create_from_json(obs_data_get_json(saved));
	OBSSourceAutoRelease loaded = obs_load_private_source(reread);
	ASSERT_NE(loaded.Get(), nullptr);
	OBSSourceAutoRelease filter = obs_source_get_filter_by_name(loaded, "filter");
	ASSERT_NE(filter.Get(), nullptr);
	OBSDataAutoRelease loadedSettings = obs_source_get_settings(filter);
	EXPECT_EQ(obs_data_get_int(loadedSettings, "codec_engine"), 2);
	EXPECT_EQ(obs_data_get_int(loadedSettings, "codec_memory_mb"), 512);
	EXPECT_NE(bufferStatusOf(filter).find(" of 512 MB"), std::string::npos) << bufferStatusOf(filter);
	obs_source_filter_remove(loaded, filter);
}

class DelayPlaybackInObs : public VideoDelayInObs {
protected:
	static OBSDataAutoRelease playbackSettings(const char *clone, int mode, bool guide)
	{
		OBSDataAutoRelease settings = delaySettings(0.5);
		obs_data_set_string(settings, "dpv_source", clone);
		obs_data_set_int(settings, "dpv_mode", mode);
		obs_data_set_bool(settings, "dp_guide", guide);
		return settings;
	}
};

TEST_F(DelayPlaybackInObs, OffersOnlyNamedVideoInputsThatAreNotPlaybacks)
{
	NamedSource camera("Kestrel listed camera", ObsHarness::testVideoSourceId());
	NamedSource mic("Kestrel listed mic");
	NamedSource other("Kestrel other playback", "orv_delay_playback");
	OBSSceneAutoRelease scene = obs_scene_create("Kestrel listed scene");
	obs_properties_t *props = obs_get_source_properties("orv_delay_playback");
	obs_property_t *list = obs_properties_get(props, "dpv_source");
	ASSERT_NE(list, nullptr);
	std::vector<std::string> names;
	for (size_t i = 0; i < obs_property_list_item_count(list); ++i)
		names.emplace_back(obs_property_list_item_string(list, i));
	obs_properties_destroy(props);
	obs_source_remove(obs_scene_get_source(scene));
	ASSERT_FALSE(names.empty());
	EXPECT_EQ(names[0], "");
	EXPECT_EQ(std::count(names.begin(), names.end(), "Kestrel listed camera"), 1);
	for (const char *refused : {"Kestrel listed mic", "Kestrel other playback", "Kestrel listed scene"})
		EXPECT_EQ(std::count(names.begin(), names.end(), refused), 0) << refused;
}

// Always mode: nothing (no guide) until the delay has filled, then the clone one delay late; a
// change of mode empties the delay.
TEST_F(DelayPlaybackInObs, AlwaysModeShowsTheCloneDelayedAndAModeChangeResets)
{
	NamedSource camera("Kestrel cloned camera", ObsHarness::testVideoSourceId());
	OBSSourceAutoRelease playback =
	    obs_source_create("orv_delay_playback", "Kestrel playback",
			      playbackSettings("Kestrel cloned camera", 0, false), nullptr);
	obs_set_output_source(0, playback);
	RenderedColours output(playback);
	const uint64_t start = os_gettime_ns();
	sleepUntil(start + 200 * kMs);
	testPictureOf(camera.get()).color.store(kPalette[kGreen]);
	const uint64_t change = os_gettime_ns();
	sleepUntil(change + 800 * kMs);
	EXPECT_EQ(output.colourAt(start + 300 * kMs), kBlack) << "nothing before the delay has filled";
	EXPECT_EQ(output.colourAt(start + 600 * kMs), kRed);
	EXPECT_EQ(output.colourAt(change + 650 * kMs), kGreen);

	// OBS applies the settings of video sources at its next video tick.
	obs_source_update(playback, playbackSettings("Kestrel cloned camera", 1, false));
	std::this_thread::sleep_for(std::chrono::milliseconds(100));
	obs_source_update(playback, playbackSettings("Kestrel cloned camera", 0, false));
	const uint64_t reset = os_gettime_ns();
	sleepUntil(reset + 800 * kMs);
	EXPECT_EQ(output.colourAt(reset + 250 * kMs), kBlack) << "the delay starts again from empty";
	EXPECT_EQ(output.colourAt(reset + 700 * kMs), kGreen);
	obs_set_output_source(0, nullptr);
	obs_source_remove(playback);
}

TEST_F(DelayPlaybackInObs, WithoutACloneReportsTheGuideSizeAndFindsACloneCreatedLater)
{
	OBSSourceAutoRelease playback =
	    obs_source_create("orv_delay_playback", "Kestrel early playback",
			      playbackSettings("Kestrel late camera", 0, true), nullptr);
	obs_set_output_source(0, playback);
	EXPECT_EQ(obs_source_get_width(playback), 640u);
	EXPECT_EQ(obs_source_get_height(playback), 360u);
	obs_source_update(playback, playbackSettings("Kestrel late camera", 0, false));
	std::this_thread::sleep_for(std::chrono::milliseconds(100));
	EXPECT_EQ(obs_source_get_width(playback), 0u);
	EXPECT_EQ(obs_source_get_height(playback), 0u);

	NamedSource camera("Kestrel late camera", ObsHarness::testVideoSourceId());
	testPictureOf(camera.get()).width.store(320);
	testPictureOf(camera.get()).height.store(180);
	EXPECT_TRUE(waitFor([&] { return obs_source_get_width(playback) == 320; }, 4000))
	    << "looked up again within 3 s";
	EXPECT_EQ(obs_source_get_height(playback), 180u);
	obs_set_output_source(0, nullptr);
	obs_source_remove(playback);
}

std::vector<std::string> propertyNames(obs_properties_t *props)
{
	std::vector<std::string> names;
	for (obs_property_t *property = obs_properties_first(props); property; obs_property_next(&property))
		names.emplace_back(obs_property_name(property));
	obs_properties_destroy(props);
	return names;
}

TEST(VideoDelayTypes, RegisteredInTheTableOrderWithTheirNamesFlagsAndSheets)
{
	std::vector<std::string> filters;
	const char *id = nullptr;
	for (size_t i = 0; obs_enum_filter_types(i, &id); ++i)
		filters.emplace_back(id);
	const auto at = [&](const char *wanted) { return std::find(filters.begin(), filters.end(), wanted); };
	EXPECT_LT(at("orv_screen_delay_video"), at("orv_screen_delay_audio"));
	EXPECT_LT(at("orv_push_to_delay"), at("orv_push_to_delay_video"));
	EXPECT_NE(at("orv_push_to_delay_video"), filters.end());
	EXPECT_STREQ(obs_source_get_display_name("orv_screen_delay_video"), "Screen Delay (video)");
	EXPECT_STREQ(obs_source_get_display_name("orv_push_to_delay_video"), "Push-to-Delay (cámara)");
	EXPECT_STREQ(obs_source_get_display_name("orv_delay_playback"), "Delay Playback (cámara demorada)");
	EXPECT_EQ(obs_get_source_output_flags("orv_screen_delay_video"),
		  static_cast<uint32_t>(OBS_SOURCE_VIDEO));
	EXPECT_EQ(obs_get_source_output_flags("orv_delay_playback"),
		  static_cast<uint32_t>(OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW));

	const std::vector<std::string> filterSheet{
	    "delay_s",         "buffer_fps",    "buffer_scale",  "codec_engine",
	    "codec_memory_mb", "codec_quality", "codec_full444", "info"};
	EXPECT_EQ(propertyNames(obs_get_source_properties("orv_screen_delay_video")), filterSheet);
	obs_properties_t *sheet = obs_get_source_properties("orv_screen_delay_video");
	EXPECT_FALSE(obs_property_visible(obs_properties_get(sheet, "codec_memory_mb")))
	    << "the budget steers software H.264 only";
	obs_properties_destroy(sheet);
	EXPECT_EQ(propertyNames(obs_get_source_properties("orv_delay_playback")),
		  (std::vector<std::string>{"dpv_source", "dpv_mode", "pdv_vk", "delay_s", "dp_guide",
					    "dpv_info"}));
	OBSSourceAutoRelease camera = obs_source_create_private("orv_push_to_delay_video", "camera", nullptr);
	std::vector<std::string> cameraSheet{"pdv_vk"};
	cameraSheet.insert(cameraSheet.end(), filterSheet.begin(), filterSheet.end());
	cameraSheet.emplace_back("buffer_status"); // live figures need an instance
	EXPECT_EQ(propertyNames(obs_source_properties(camera)), cameraSheet);

	OBSDataAutoRelease defaults = obs_get_source_defaults("orv_delay_playback");
	EXPECT_DOUBLE_EQ(obs_data_get_double(defaults, "delay_s"), 20.0);
	EXPECT_EQ(obs_data_get_int(defaults, "buffer_fps"), 60);
	EXPECT_EQ(obs_data_get_int(defaults, "buffer_scale"), 100);
	EXPECT_EQ(obs_data_get_int(defaults, "codec_quality"), 3);
	EXPECT_EQ(obs_data_get_int(defaults, "codec_memory_mb"), 1024);
	EXPECT_EQ(obs_data_get_int(defaults, "pdv_vk"), 86);
	EXPECT_EQ(obs_data_get_int(defaults, "dpv_mode"), 1);
	EXPECT_TRUE(obs_data_get_bool(defaults, "dp_guide"));
}

// Settings from a script or a hand-edited collection are kept inside the slider's range.
TEST(VideoDelayTypes, DelayOutsideTheSliderIsClamped)
{
	ObsLogCapture log;
	for (const double seconds : {500.0, -3.0, std::nan("")}) {
		OBSDataAutoRelease settings = obs_data_create();
		obs_data_set_double(settings, "delay_s", seconds);
		OBSSourceAutoRelease filter =
		    obs_source_create_private("orv_screen_delay_video", "clamped", settings);
	}
	for (const char *seconds : {"120.0", "0.0", "20.0"})
		EXPECT_TRUE(log.contains(LOG_INFO, std::string("[Kestrel] video delay filter created (") +
						       seconds + "s, compressed ring)"))
		    << seconds;
}

} // namespace
} // namespace kestrel::test
