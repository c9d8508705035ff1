#include "delay/video/video-delay-rules.h"

#include "delay/video/buffer-status.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel {
namespace {

TEST(VideoDelayRules, SettingsAreClampedToTheSheet)
{
	const auto wild = VideoDelayOptions::fromSettings(500.0, 0, 500, -2, true, 1, 0);
	EXPECT_EQ(wild.delayNs, 120'000'000'000ull);
	EXPECT_EQ(wild.frameIntervalNs, 1'000'000'000ull);
	EXPECT_DOUBLE_EQ(wild.bufferScale, 1.0);
	EXPECT_EQ(wild.quality, 1);
	EXPECT_EQ(VideoDelayOptions::fromSettings(std::nan(""), 240, 1, 99, false, 0, 0).delayNs,
		  20'000'000'000ull);
	const auto low = VideoDelayOptions::fromSettings(-1.0, 240, 1, 99, false, 0, 1 << 20);
	EXPECT_EQ(low.delayNs, 0u);
	EXPECT_EQ(low.frameIntervalNs, 1'000'000'000ull / 60);
	EXPECT_DOUBLE_EQ(low.bufferScale, 0.1);
	EXPECT_EQ(low.quality, 10);
	EXPECT_EQ(wild.memoryBudgetBytes, 256ull << 20);
	EXPECT_EQ(low.memoryBudgetBytes, 1500ull << 20) << "no further than the ring's cap";
	EXPECT_EQ(VideoDelayOptions::fromSettings(20.0, 60, 100, 3, false, 2, 1024).memoryBudgetBytes,
		  1024ull << 20);
}

TEST(VideoDelayRules, SoftwareH264TakesAQuarterOfTheMachineFromOneToFourThreads)
{
	EXPECT_EQ(softwareH264Threads(0), 1) << "unknown";
	EXPECT_EQ(softwareH264Threads(2), 1);
	EXPECT_EQ(softwareH264Threads(8), 2);
	EXPECT_EQ(softwareH264Threads(16), 4);
	EXPECT_EQ(softwareH264Threads(64), 4);
}

TEST(VideoDelayRules, EnginesKeepTheirNumberAndUnknownOnesReadAsMjpeg)
{
	const auto engine = [](int64_t stored) {
		return VideoDelayOptions::fromSettings(20.0, 60, 100, 3, false, stored, 1024).engine;
	};
	for (const int known : {0, 1, 2})
		EXPECT_EQ(engine(known), known);
	for (const int64_t unknown : {int64_t{3}, int64_t{-1}, int64_t{1} << 40})
		EXPECT_EQ(engine(unknown), FrameCodec::kEngineMjpeg) << unknown;
}

TEST(VideoDelayRules, BufferLineShowsTheFiguresAndTheCapOnlyWhenItCuts)
{
	VideoDelayWorker::Stats stats;
	EXPECT_EQ(bufferStatusLine(stats, 20'000'000'000),
		  "Buffer: 0.0 s · 0 MB · 0 frames dropped · no frames yet");
	stats.heldNs = 19'960'000'000;
	stats.ringBytes = 212ull << 20;
	stats.droppedFrames = 1;
	stats.engineInUse = FrameCodec::kEngineSoftwareH264;
	EXPECT_EQ(bufferStatusLine(stats, 120'000'000'000),
		  "Buffer: 20.0 s · 212 MB · 1 frame dropped · H.264 (CPU)");
	stats.heldNs = 21'500'000'000; // the group still being decoded reaches back past the delay
	EXPECT_EQ(bufferStatusLine(stats, 20'000'000'000),
		  "Buffer: 20.0 s · 212 MB · 1 frame dropped · H.264 (CPU)");
	EXPECT_EQ(capWarningLine(stats, 120'000'000'000, 1500ull << 20), "");
	stats.budgetBytes = 1024ull << 20;
	EXPECT_EQ(bufferStatusLine(stats, 20'000'000'000),
		  "Buffer: 20.0 s · 212 MB of 1024 MB · 1 frame dropped · H.264 (CPU)")
	    << "no quality before it is measured";
	stats.psnrDb = 37.6;
	EXPECT_EQ(bufferStatusLine(stats, 20'000'000'000),
		  "Buffer: 20.0 s · 212 MB of 1024 MB · 1 frame dropped · H.264 (CPU) · ~38 dB");
	stats.budgetBytes = 0;
	stats.psnrDb = 0;
	stats.capLimited = true;
	stats.fitNs = 46'040'000'000;
	EXPECT_EQ(capWarningLine(stats, 120'000'000'000, 1500ull << 20),
		  "Only 46.0 s of the 120.0 s delay fit in 1500 MB at this rate: the picture runs ahead "
		  "of the sound. Lower quality/FPS/resolution or use H.264 (CPU).");
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
	EXPECT_EQ(chooseFrame({.refillingAfterDump = true}), FrameChoice::Nothing)
	    << "never live after a dump";

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
