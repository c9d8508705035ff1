#include "delay/video/video-delay-rules.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel {
namespace {

TEST(VideoDelayRules, SettingsAreClampedToTheSheet)
{
	const auto wild = VideoDelayOptions::fromSettings(500.0, 0, 500, -2, true, 1);
	EXPECT_EQ(wild.delayNs, 120'000'000'000ull);
	EXPECT_EQ(wild.frameIntervalNs, 1'000'000'000ull);
	EXPECT_DOUBLE_EQ(wild.bufferScale, 1.0);
	EXPECT_EQ(wild.quality, 1);
	EXPECT_EQ(VideoDelayOptions::fromSettings(std::nan(""), 240, 1, 99, false, 0).delayNs,
		  20'000'000'000ull);
	const auto low = VideoDelayOptions::fromSettings(-1.0, 240, 1, 99, false, 0);
	EXPECT_EQ(low.delayNs, 0u);
	EXPECT_EQ(low.frameIntervalNs, 1'000'000'000ull / 60);
	EXPECT_DOUBLE_EQ(low.bufferScale, 0.1);
	EXPECT_EQ(low.quality, 10);
}

TEST(VideoDelayRules, BufferSidesAreEvenAndAtLeastTwo)
{
	EXPECT_EQ(bufferDimension(1, 0.1), 2u);
	EXPECT_EQ(bufferDimension(101, 0.5), 50u);
	EXPECT_EQ(bufferDimension(51, 0.5), 24u);
	EXPECT_EQ(bufferDimension(1080, 1.0), 1080u);
}

TEST(VideoDelayRules, PacerTakesTheFirstFrameAndThenOneInStep)
{
	const auto captured = [](double outputFps, int bufferFps) {
		CapturePacer pacer;
		int count = 0;
		for (int frame = 0; frame < 60; ++frame)
			count += pacer.captureNow(outputFps, 1'000'000'000ull / bufferFps, frame > 0);
		return count;
	};
	EXPECT_EQ(captured(60.0, 30), 30);
	EXPECT_EQ(captured(60.0, 60), 60);
	EXPECT_EQ(captured(30.0, 60), 60) << "a buffer faster than the output takes every frame";
	EXPECT_EQ(captured(60.0, 20), 20);
}

TEST(VideoDelayRules, FrameChoiceByMode)
{
	FrameState plain{.haveFrame = true, .fresh = false};
	EXPECT_EQ(chooseFrame(plain), FrameChoice::Delayed) << "the plain filter keeps its last frame";
	plain.passLive = true;
	EXPECT_EQ(chooseFrame(plain), FrameChoice::Live) << "delays switched off";
	EXPECT_EQ(chooseFrame({}), FrameChoice::Live) << "still filling";

	FrameState push{.pushMode = true, .haveFrame = true, .fresh = true};
	EXPECT_EQ(chooseFrame(push), FrameChoice::Delayed);
	push.fresh = false;
	EXPECT_EQ(chooseFrame(push), FrameChoice::Nothing);

	FrameState playback{.pushMode = true, .playbackMode = true, .haveFrame = true, .showGuide = true};
	EXPECT_EQ(chooseFrame(playback), FrameChoice::Guide);
	playback.showGuide = false;
	EXPECT_EQ(chooseFrame(playback), FrameChoice::Nothing);
	EXPECT_EQ(fallbackFrame(false, true), FrameChoice::Live);
	EXPECT_EQ(fallbackFrame(true, true), FrameChoice::Guide);

	EXPECT_FALSE(isFresh(0, 1));
	EXPECT_TRUE(isFresh(1'000, 1'000 + kFreshFrameNs - 1));
	EXPECT_FALSE(isFresh(1'000, 1'000 + kFreshFrameNs));
}

} // namespace
} // namespace kestrel
