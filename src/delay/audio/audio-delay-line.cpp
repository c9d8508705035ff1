#include "delay/audio/audio-delay-line.h"

#include "delay/delay-time.h"

namespace kestrel {

AudioDelayLine::AudioDelayLine(uint32_t sampleRate) : sampleRate_(sampleRate) {}

void AudioDelayLine::setDelaySeconds(double seconds)
{
	// The count is published before the restart flag, so the packet that sees the flag also
	// fills to the new length.
	delayFrames_.store(delayFramesFor(sampleRate_, delayMilliseconds(seconds)),
			   std::memory_order_relaxed);
	resetPending_.store(true, std::memory_order_release);
}

void AudioDelayLine::adoptChannelCount(size_t channels)
{
	if (channels == ring_.channels())
		return;
	ring_.setChannels(channels);
	for (auto &plane : outPlanes_)
		plane.clear();
	resetPending_.store(true, std::memory_order_release);
}

bool AudioDelayLine::needsRestart(uint64_t timestamp)
{
	const bool reset = resetPending_.exchange(false, std::memory_order_acquire);
	return reset || timestamp < lastTimestamp_ || timestamp - lastTimestamp_ > kMaxTimestampGapNs;
}

AudioDelayLine::Result AudioDelayLine::process(const float *const *planes, uint32_t frames,
					       uint64_t timestamp, bool live)
{
	const size_t channels = PlanarRing::countChannels(planes);
	if (channels == 0)
		return Result::PassThrough;
	adoptChannelCount(channels);

	if (live) {
		ring_.push(planes, frames);
		ring_.trimTo(delayFrames());
		lastTimestamp_ = timestamp;
		return Result::PassThrough;
	}

	if (needsRestart(timestamp))
		ring_.clear(true);
	lastTimestamp_ = timestamp;
	ring_.push(planes, frames);
	if (ring_.size() < delayFrames() + frames)
		return Result::Filling;

	std::array<float *, PlanarRing::kMaxChannels> out{};
	for (size_t c = 0; c < channels; ++c) {
		outPlanes_[c].resize(frames);
		out[c] = outPlanes_[c].data();
	}
	ring_.pop(out.data(), frames);
	return Result::Delayed;
}

} // namespace kestrel
