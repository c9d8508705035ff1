#pragma once

#include "delay/audio/planar-ring.h"
#include "delay/delays-disabled.h"

#include <cstdint>
#include <mutex>

namespace kestrel {

// Plays planar float audio a fixed number of samples late. Output packets keep the size and
// timestamp of the input, so the host sees a continuous stream that carries older sound.
class AudioDelayLine {
public:
	enum class Result {
		PassThrough, // the input packet is the output
		Filling,     // no output for this packet (the delay is still filling)
		Delayed,     // output(c) holds the delayed samples (silence while refilling after a dump)
	};

	// `maxChannels`: the most channels a packet may carry; more pass live.
	explicit AudioDelayLine(uint32_t sampleRate = 48000, size_t maxChannels = 2);

	// From any thread but the audio thread: the storage for the new delay is made here. The next
	// delayed packet restarts the fill.
	void setDelaySeconds(double seconds);

	// `planes` has 8 slots; the leading non-null ones are the channels. `live` passes the input
	// through while keeping the most recent delay's worth of samples. Never allocates or waits.
	Result process(const float *const *planes, uint32_t frames, uint64_t timestamp, bool live);

	const float *output(size_t channel) const { return outPlanes_[channel].data(); }
	size_t channels() const { return channels_; }
	size_t queuedFrames() const;
	uint32_t sampleRate() const { return sampleRate_; }
	uint64_t delayFrames() const;

private:
	static constexpr uint64_t kMaxTimestampGapNs = 1'000'000'000;

	bool needsRestart(uint64_t timestamp);

	const uint32_t sampleRate_;
	const size_t maxChannels_;
	const size_t maxPacket_;
	std::mutex configureLock_; // one setDelaySeconds at a time

	// Guards delayFrames_, resetPending_ and ring_; the audio thread only ever tries it.
	mutable std::mutex stateLock_;
	uint64_t delayFrames_ = 0;
	bool resetPending_ = true;
	PlanarRing ring_;

	// The audio thread's own.
	size_t channels_ = 0;
	uint64_t lastTimestamp_ = 0;
	DumpWatch dumps_;
	// After a dump the refill plays silence, so the stream runs on without the dropped sound.
	bool silentRefill_ = false;
	std::vector<std::vector<float>> outPlanes_;
};

} // namespace kestrel
