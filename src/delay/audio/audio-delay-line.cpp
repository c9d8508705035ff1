#include "delay/audio/audio-delay-line.h"

#include "delay/delay-time.h"
#include "delay/delays-disabled.h"

#include <algorithm>
#include <utility>

namespace kestrel {

AudioDelayLine::AudioDelayLine(uint32_t sampleRate, size_t maxChannels)
    : sampleRate_(sampleRate), maxChannels_(std::min(maxChannels, PlanarRing::kMaxChannels)),
      maxPacket_(maxPacketFrames(sampleRate)), outPlanes_(maxChannels_, std::vector<float>(maxPacket_))
{
}

void AudioDelayLine::setDelaySeconds(double seconds)
{
	std::lock_guard configuring(configureLock_);
	const uint64_t frames = delayFramesFor(sampleRate_, delayMilliseconds(seconds));
	resizeUnderLock(stateLock_, ring_, maxChannels_, frames + maxPacket_, [&] {
		delayFrames_ = frames;
		resetPending_ = true;
	});
}

size_t AudioDelayLine::queuedFrames() const
{
	std::lock_guard lock(stateLock_);
	return ring_.size();
}

uint64_t AudioDelayLine::delayFrames() const
{
	std::lock_guard lock(stateLock_);
	return delayFrames_;
}

bool AudioDelayLine::needsRestart(uint64_t timestamp)
{
	const bool reset = std::exchange(resetPending_, false);
	return reset || timestamp < lastTimestamp_ || timestamp - lastTimestamp_ > kMaxTimestampGapNs;
}

AudioDelayLine::Result AudioDelayLine::process(const float *const *planes, uint32_t frames,
					       uint64_t timestamp, bool live)
{
	const size_t channels = PlanarRing::countChannels(planes);
	if (channels == 0 || channels > maxChannels_ || frames > maxPacket_)
		return Result::PassThrough;
	// Busy only while a new delay is being put in, which restarts the fill anyway.
	std::unique_lock lock(stateLock_, std::try_to_lock);
	if (!lock)
		return live ? Result::PassThrough : Result::Filling;
	if (channels != ring_.channels()) {
		ring_.setChannels(channels);
		resetPending_ = true;
	}
	channels_ = channels;
	// Whatever the switch state, a dump leaves nothing captured before it to play.
	if (dumps_.dumpRequested()) {
		ring_.clear();
		silentRefill_ = true;
	}

	if (live) {
		ring_.push(planes, frames);
		ring_.trimTo(delayFrames_);
		lastTimestamp_ = timestamp;
		return Result::PassThrough;
	}

	if (needsRestart(timestamp))
		ring_.clear();
	lastTimestamp_ = timestamp;
	ring_.push(planes, frames);
	if (ring_.size() < delayFrames_ + frames) {
		if (!silentRefill_)
			return Result::Filling;
		for (size_t c = 0; c < channels; ++c)
			std::fill_n(outPlanes_[c].begin(), frames, 0.0f);
		return Result::Delayed;
	}
	silentRefill_ = false;

	std::array<float *, PlanarRing::kMaxChannels> out{};
	for (size_t c = 0; c < channels; ++c)
		out[c] = outPlanes_[c].data();
	ring_.pop(out.data(), frames);
	return Result::Delayed;
}

} // namespace kestrel
