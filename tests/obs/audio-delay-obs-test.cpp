#include "filtered-source.h"
#include "obs-harness.h"

#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

OBSDataAutoRelease delaySettings(double delaySeconds)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_double(settings, "delay_s", delaySeconds);
	return settings;
}

// Silence long enough for the delay to fill, then a loud burst: the delay is the distance on
// OBS's mix timeline between the burst going in and coming out.
int64_t measureDelaySamples(double delaySeconds)
{
	FilteredSource delayed("orv_screen_delay_audio", delaySettings(delaySeconds));
	MixCapture capture;
	AudioFeeder feeder(delayed.source(), 1024, kFeedLeadNs);
	// OBS anchors a source's timeline at its first audio packet; sending that packet before the
	// filter exists anchors it on time instead of at the end of the fill, when the feeding
	// thread may wake up late.
	feeder.push(0.0f);
	delayed.attachFilter();
	feeder.pushFor(delaySeconds + 0.5, 0.0f);
	const uint64_t burstIn = feeder.push(0.5f);
	feeder.pushFor(delaySeconds + 0.7, 0.5f);
	const uint64_t burstOut = capture.firstLoudSampleTime(0.1f);
	if (burstOut == 0)
		return -1;
	return (static_cast<int64_t>(burstOut) - static_cast<int64_t>(burstIn)) * kSampleRate / 1'000'000'000;
}

TEST(AudioDelayInObs, SoundComesOutOfTheMixDelayedByTheSetting)
{
	// 0.5 s at 48 kHz with 1024-sample packets settles at 24 packets = 24576 samples held.
	const int64_t delay = measureDelaySamples(0.5);
	EXPECT_GE(delay, 24000 - 2);
	EXPECT_LT(delay, 24000 + 1024 + 2);
}

TEST(AudioDelayInObs, ZeroDelayLeavesTheSoundOnTime)
{
	const int64_t delay = measureDelaySamples(0.0);
	EXPECT_GE(delay, -2);
	EXPECT_LE(delay, 2);
}

} // namespace
} // namespace kestrel::test
