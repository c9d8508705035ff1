#pragma once

#include <cstdint>

namespace kestrel {

// The memory budget of the software H.264 engine, in MB of 2^20 bytes: at most the ring's cap.
inline constexpr int64_t kMemoryBudgetMinMB = 256;
inline constexpr int64_t kMemoryBudgetDefaultMB = 1024;
inline constexpr int64_t kMemoryBudgetMaxMB = 1500;

// The settings of one video delay instance, clamped to what the property sheet offers.
struct VideoDelayOptions {
	uint64_t delayNs = 0;
	uint64_t frameIntervalNs = 0; // minimum spacing of buffered frames
	double bufferScale = 1.0;     // buffer resolution as a fraction of the source size
	int quality = 3;
	bool full444 = false;
	int engine = 0;
	uint64_t memoryBudgetBytes = 0;

	static VideoDelayOptions fromSettings(double delaySeconds, int64_t bufferFps,
					      int64_t bufferScalePercent, int64_t quality, bool full444,
					      int64_t engine, int64_t memoryBudgetMB);
};

// Threads for software H.264 on a machine with this many: a quarter of them, from 1 to 4. The
// game, OBS's own rendering and the stream's encoder need the rest, and beyond four slices a
// frame the gain is small.
int softwareH264Threads(unsigned hardwareThreads);

// One side of the capture: the scaled source side, even so chroma subsampling divides it,
// and at least 2.
uint32_t bufferDimension(uint32_t sourceDimension, double scale);

// Spreads captures over OBS's output frames when the buffer runs at a lower frame rate.
class CapturePacer {
public:
	// Called once per output frame; true when this frame is to be captured. `started` is false
	// until a frame is staged or shown, so the very first frame is always taken.
	bool captureNow(double outputFps, uint64_t frameIntervalNs, bool started);
	void reset() { accumulator_ = 0.0; }

private:
	double accumulator_ = 0.0;
};

// Why the instance is or is not capturing; logged once per change.
enum class CaptureStatus { Unknown = -1, Capturing = 0, NoTarget = 1, ZeroSize = 2, GpuFailure = 3 };

// What an instance puts on screen in one frame.
enum class FrameChoice { Delayed, Live, Guide, Nothing };

struct FrameState {
	bool pushMode = false;
	bool playbackMode = false;
	bool passLive = false;  // the delays are switched off (plain filter only)
	bool haveFrame = false; // a delayed frame has been taken over
	bool fresh = false;     // ... recently enough to still count as arriving
	bool showGuide = false;
	bool refillingAfterDump = false; // plain filter: nothing rather than live until refilled
};

inline constexpr uint64_t kFreshFrameNs = 300'000'000;

inline bool isFresh(uint64_t lastNewFrameNs, uint64_t now)
{
	return lastNewFrameNs != 0 && now - lastNewFrameNs < kFreshFrameNs;
}

FrameChoice chooseFrame(const FrameState &state);
// When nothing can be captured or drawn: the filters pass their input live, the Delay Playback
// source shows its guide box (or nothing).
FrameChoice fallbackFrame(bool playbackMode, bool showGuide);

} // namespace kestrel
