#pragma once

#include "delay/audio/planar-ring.h"

#include <atomic>
#include <cstdint>

namespace kestrel {

// Plays planar float audio a fixed number of samples late. Output packets keep the size and
// timestamp of the input, so the host sees a continuous stream that carries older sound.
class AudioDelayLine {
public:
	enum class Result {
		PassThrough, // the input packet is the output
		Filling,     // no output for this packet (the delay is still filling)
		Delayed,     // output(c) holds the delayed samples
	};

	explicit AudioDelayLine(uint32_t sampleRate = 48000);

	// May be called from any thread; the next delayed packet restarts the fill.
	void setDelaySeconds(double seconds);

	// `planes` has 8 slots; the leading non-null ones are the channels. `live` passes the input
	// through while keeping the most recent delay's worth of samples.
	Result process(const float *const *planes, uint32_t frames, uint64_t timestamp, bool live);

	const float *output(size_t channel) const { return outPlanes_[channel].data(); }
	size_t channels() const { return ring_.channels(); }
	size_t queuedFrames() const { return ring_.size(); }
	uint32_t sampleRate() const { return sampleRate_; }
	uint64_t delayFrames() const { return delayFrames_.load(std::memory_order_relaxed); }

private:
	static constexpr uint64_t kMaxTimestampGapNs = 1'000'000'000;

	void adoptChannelCount(size_t channels);
	bool needsRestart(uint64_t timestamp);

	const uint32_t sampleRate_;
	std::atomic<uint64_t> delayFrames_{0};
	std::atomic<bool> resetPending_{true};
	uint64_t lastTimestamp_ = 0;
	PlanarRing ring_;
	std::array<std::vector<float>, PlanarRing::kMaxChannels> outPlanes_;
};

} // namespace kestrel
