#include "delay/audio/sidechain-ducker.h"

#include "delay/audio/audio-levels.h"
#include "delay/delay-time.h"

#include <algorithm>

namespace kestrel {

namespace {

// The key is never kept longer than this beyond its delay, so an unconsumed key stays bounded.
constexpr uint64_t kKeySlackSeconds = 2;

uint64_t keptKeyFrames(uint64_t keyDelayFrames, uint32_t sampleRate)
{
	return keyDelayFrames + kKeySlackSeconds * sampleRate;
}

} // namespace

SidechainDucker::SidechainDucker(size_t keyChannels)
    : keyChannels_(std::min(keyChannels, PlanarRing::kMaxChannels))
{
}

void SidechainDucker::configure(const Settings &settings)
{
	std::lock_guard configuring(configureLock_);
	const uint32_t rate = settings.sampleRate ? settings.sampleRate : 48000;
	const Levels levels{
	    .sampleRate = rate,
	    .keyDelayFrames = delayFramesFor(rate, delayMilliseconds(settings.keyDelaySeconds)),
	    .threshold = decibelsToGain(settings.thresholdDb),
	    .duckGain = decibelsToGain(settings.amountDb),
	    .attackCoef = smoothingCoefficient(rate, static_cast<float>(settings.attackMs) / 1000.0f),
	    .releaseCoef = smoothingCoefficient(rate, static_cast<float>(settings.releaseMs) / 1000.0f),
	};
	resizeUnderLock(keyLock_, keyQueue_, keyChannels_,
			keptKeyFrames(levels.keyDelayFrames, rate) + maxPacketFrames(rate),
			[&] { levels_ = levels; });
}

// A key packet that meets new settings going in is dropped: the queue then runs one packet
// short, and the next ducked packet waits for it instead of consuming.
void SidechainDucker::pushKey(const float *const *planes, uint32_t frames, bool muted)
{
	const size_t channels = PlanarRing::countChannels(planes);
	if (channels == 0)
		return;
	std::unique_lock lock(keyLock_, std::try_to_lock);
	if (!lock)
		return;
	if (dumps_.dumpRequested())
		keyQueue_.clear();
	if (channels != keyQueue_.channels() && !keyQueue_.setChannels(channels))
		return;
	if (muted)
		keyQueue_.pushSilence(frames);
	else
		keyQueue_.push(planes, frames);
	keyQueue_.trimTo(keptKeyFrames(levels_.keyDelayFrames, levels_.sampleRate));
}

// The gain to head for during this packet: the duck level when the key's window, taken one
// key delay back, peaks above the threshold anywhere. Called with keyLock_ held.
float SidechainDucker::keyTarget(uint32_t frames)
{
	const uint64_t keyDelay = lastLevels_.keyDelayFrames;
	if (keyQueue_.channels() == 0 || keyQueue_.size() < keyDelay + frames)
		return 1.0f;
	// After a stretch without consumption (delays switched off, a detached key) the queue
	// holds more than the delay; dropping the surplus keeps the key in step with the sound.
	keyQueue_.trimTo(keyDelay + frames);
	return keyQueue_.popPeak(frames) > lastLevels_.threshold ? lastLevels_.duckGain : 1.0f;
}

void SidechainDucker::process(float *const *planes, uint32_t frames, bool keyAttached, bool live)
{
	if (frames == 0)
		return;
	if (live) {
		gain_ = 1.0f;
		return;
	}
	// Busy only while new settings or a key packet go in; the last target then holds.
	float target = keyAttached ? lastTarget_ : 1.0f;
	if (std::unique_lock lock(keyLock_, std::try_to_lock); lock) {
		lastLevels_ = levels_;
		if (dumps_.dumpRequested())
			keyQueue_.clear();
		if (keyAttached)
			target = keyTarget(frames);
	}
	lastTarget_ = target;
	const size_t channels = PlanarRing::countChannels(planes);
	float gain = gain_;
	for (uint32_t i = 0; i < frames; ++i) {
		smoothTowards(gain, target, lastLevels_.attackCoef, lastLevels_.releaseCoef);
		for (size_t c = 0; c < channels; ++c)
			planes[c][i] *= gain;
	}
	gain_ = gain;
}

size_t SidechainDucker::queuedKeyFrames() const
{
	std::lock_guard lock(keyLock_);
	return keyQueue_.size();
}

} // namespace kestrel
