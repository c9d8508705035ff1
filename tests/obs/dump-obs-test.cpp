#include "delay-switch-sources.h"
#include "obs-harness.h"
#include "support/obs-log-capture.h"

#include <gtest/gtest.h>

#include <util/platform.h>

#include <chrono>
#include <thread>

// Linked ahead of the module tests: the module's own dump hotkey is the only way into its
// delays, and one of those tests unloads the module.
namespace kestrel::test {
namespace {

constexpr uint64_t kMs = 1'000'000;
constexpr size_t kRed = 0, kGreen = 1, kBlue = 2;

OBSDataAutoRelease oneSecondDelay()
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_double(settings, "delay_s", 1.0);
	return settings;
}

// Fires the module's "orv_dump_delays" the way the frontend and obs-websocket do; the time of
// the press.
uint64_t pressDump()
{
	const auto hotkeys = frontendHotkeys("orv_dump_delays");
	EXPECT_EQ(hotkeys.size(), 1u);
	const uint64_t pressed = os_gettime_ns();
	obs_hotkey_enable_callback_rerouting(true);
	for (obs_hotkey_id id : hotkeys) {
		obs_hotkey_trigger_routed_callback(id, true);
		obs_hotkey_trigger_routed_callback(id, false);
	}
	obs_hotkey_enable_callback_rerouting(false);
	return pressed;
}

void sleepMs(int ms)
{
	std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Red, green once the delay shows red, a dump, then blue: the delayed picture stays on the red
// it showed until the blue of one delay after the dump is due; green never goes out.
TEST(DumpInObs, VideoHoldsTheLastDelayedFrameAndNeverShowsWhatCameBeforeTheDump)
{
	if (!ObsHarness::hasVideo())
		GTEST_SKIP() << "no X display for OpenGL";
	waitOutDebounce();
	ObsLogCapture log;
	FilteredSource camera("orv_screen_delay_video", oneSecondDelay(), nullptr,
			      ObsHarness::testVideoSourceId());
	TestPicture &picture = testPictureOf(camera.source());
	camera.attachFilter();
	RenderedColours output(camera.source());
	sleepMs(1300);
	picture.color.store(kPalette[kGreen]);
	sleepMs(100);
	const uint64_t dump = pressDump();
	picture.color.store(kPalette[kBlue]);
	sleepMs(1400);

	EXPECT_EQ(output.colourAt(dump + 100 * kMs), kRed) << "the still";
	EXPECT_EQ(output.colourAt(dump + 850 * kMs), kRed) << "the still";
	EXPECT_EQ(output.colourAt(dump + 1250 * kMs), kBlue);
	for (const RenderedColours::Frame &frame : output.frames())
		EXPECT_NE(frame.colour, kGreen) << "green went out at " << frame.timestamp;
	EXPECT_TRUE(
	    log.contains(LogLevel::Info, "[Kestrel] delays DUMPED: 1 delay(s) dropped everything they held"));
}

// Beeps before the dump never reach the mix; it stays silent until sound from after the dump
// is due one delay later.
TEST(DumpInObs, AudioIsSilentUntilSoundFromAfterTheDumpIsDue)
{
	waitOutDebounce();
	FilteredSource delayed("orv_screen_delay_audio", oneSecondDelay());
	MixCapture capture;
	AudioFeeder feeder(delayed.source(), 1024, kFeedLeadNs);
	feeder.push(0.0f);
	delayed.attachFilter();
	feeder.pushFor(1.2, 0.0f);
	feeder.pushFor(0.3, 0.5f); // the beep to be dumped
	pressDump();
	const uint64_t dump = feeder.push(0.0f); // the first sound after the press
	feeder.pushFor(0.05, 0.0f);
	const uint64_t beep = feeder.push(0.5f);
	feeder.pushFor(0.3, 0.5f);
	feeder.pushFor(1.2, 0.0f);

	EXPECT_LT(capture.meanLevel(dump, beep + 950 * kMs), 0.001);
	const uint64_t firstLoud = capture.firstLoudSampleTime(0.1f);
	EXPECT_GE(firstLoud, beep + 990 * kMs) << "a beep from before the dump went out";
	EXPECT_LE(firstLoud, beep + 1050 * kMs) << "the beep after the dump is lost";
}

} // namespace
} // namespace kestrel::test
