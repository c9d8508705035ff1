#include "delay/video/video-delay-rules.h"

#include "delay/delay-time.h"
#include "delay/video/frame-codec.h"

#include <algorithm>

namespace kestrel {

VideoDelayOptions VideoDelayOptions::fromSettings(double delaySeconds, int64_t bufferFps,
						  int64_t bufferScalePercent, int64_t quality, bool full444,
						  int64_t engine, int64_t memoryBudgetMB)
{
	VideoDelayOptions options;
	options.delayNs = static_cast<uint64_t>(clampDelaySeconds(delaySeconds) * 1e9);
	options.frameIntervalNs =
	    1'000'000'000ull / static_cast<uint64_t>(std::clamp<int64_t>(bufferFps, 1, 60));
	options.bufferScale = static_cast<double>(std::clamp<int64_t>(bufferScalePercent, 10, 100)) / 100.0;
	options.quality = static_cast<int>(std::clamp<int64_t>(quality, 1, 10));
	options.full444 = full444;
	// A value this version does not know (a newer one's, or a hand edit) reads as MJPEG.
	options.engine = engine >= FrameCodec::kEngineMjpeg && engine <= FrameCodec::kEngineSoftwareH264
			     ? static_cast<int>(engine)
			     : FrameCodec::kEngineMjpeg;
	options.memoryBudgetBytes =
	    static_cast<uint64_t>(std::clamp(memoryBudgetMB, kMemoryBudgetMinMB, kMemoryBudgetMaxMB)) << 20;
	return options;
}

int softwareH264Threads(unsigned hardwareThreads)
{
	return static_cast<int>(std::clamp(hardwareThreads / 4, 1u, 4u));
}

uint32_t bufferDimension(uint32_t sourceDimension, double scale)
{
	const auto scaled = static_cast<uint32_t>(static_cast<double>(sourceDimension) * scale);
	return std::max<uint32_t>(2, scaled & ~1u);
}

bool CapturePacer::captureNow(double outputFps, uint64_t frameIntervalNs, bool started)
{
	const double bufferFps = 1e9 / static_cast<double>(std::max<uint64_t>(1, frameIntervalNs));
	const double step = std::max(1.0, outputFps / bufferFps);
	accumulator_ += 1.0;
	if (started && accumulator_ < step)
		return false;
	accumulator_ = std::max(0.0, accumulator_ - step);
	return true;
}

FrameChoice chooseFrame(const FrameState &state)
{
	if (state.playbackMode) {
		if (state.haveFrame && state.fresh)
			return FrameChoice::Delayed;
		return state.showGuide ? FrameChoice::Guide : FrameChoice::Nothing;
	}
	if (state.pushMode)
		return state.haveFrame && state.fresh ? FrameChoice::Delayed : FrameChoice::Nothing;
	if (state.passLive)
		return FrameChoice::Live;
	if (!state.haveFrame)
		return state.refillingAfterDump ? FrameChoice::Nothing : FrameChoice::Live;
	return FrameChoice::Delayed;
}

FrameChoice fallbackFrame(bool playbackMode, bool showGuide)
{
	if (!playbackMode)
		return FrameChoice::Live;
	return showGuide ? FrameChoice::Guide : FrameChoice::Nothing;
}

} // namespace kestrel
