#include "delay/audio/sidechain-ducker.h"

#include "delay/audio/audio-levels.h"
#include "delay/delay-time.h"

#include <algorithm>

namespace kestrel {

namespace {

// The key is never kept longer than this beyond its delay, so an unconsumed key stays bounded.
constexpr uint64_t kKeySlackSeconds = 2;

} // namespace

void SidechainDucker::configure(const Settings &settings)
{
	const uint32_t rate = settings.sampleRate ? settings.sampleRate : 48000;
	sampleRate_.store(rate, std::memory_order_relaxed);
	keyDelayFrames_.store(delayFramesFor(rate, delayMilliseconds(settings.keyDelaySeconds)),
			      std::memory_order_relaxed);
	threshold_.store(decibelsToGain(settings.thresholdDb), std::memory_order_relaxed);
	duckGain_.store(decibelsToGain(settings.amountDb), std::memory_order_relaxed);
	attackCoef_.store(smoothingCoefficient(rate, static_cast<float>(settings.attackMs) / 1000.0f),
			  std::memory_order_relaxed);
	releaseCoef_.store(smoothingCoefficient(rate, static_cast<float>(settings.releaseMs) / 1000.0f),
			   std::memory_order_relaxed);
}

void SidechainDucker::pushKey(const float *const *planes, uint32_t frames, bool muted)
{
	const size_t channels = PlanarRing::countChannels(planes);
	if (channels == 0)
		return;
	std::lock_guard lock(keyLock_);
	if (channels != keyQueue_.channels())
		keyQueue_.setChannels(channels);
	if (silence_.size() < frames)
		silence_.resize(frames);
	std::array<const float *, PlanarRing::kMaxChannels> samples{};
	for (size_t c = 0; c < channels; ++c)
		samples[c] = !muted && planes[c] ? planes[c] : silence_.data();
	keyQueue_.push(samples.data(), frames);
	const uint64_t keep = keyDelayFrames_.load(std::memory_order_relaxed) +
			      kKeySlackSeconds * sampleRate_.load(std::memory_order_relaxed);
	keyQueue_.trimTo(keep);
}

// The gain to head for during this packet: the duck level when the key's window, taken one
// key delay back, peaks above the threshold anywhere.
float SidechainDucker::keyTarget(uint32_t frames)
{
	const uint64_t keyDelay = keyDelayFrames_.load(std::memory_order_relaxed);
	std::lock_guard lock(keyLock_);
	const size_t channels = keyQueue_.channels();
	if (channels == 0 || keyQueue_.size() < keyDelay + frames)
		return 1.0f;
	// After a stretch without consumption (delays switched off, a detached key) the queue
	// holds more than the delay; dropping the surplus keeps the key in step with the sound.
	keyQueue_.trimTo(keyDelay + frames);
	std::array<float *, PlanarRing::kMaxChannels> window{};
	for (size_t c = 0; c < channels; ++c) {
		keyWindow_[c].resize(frames);
		window[c] = keyWindow_[c].data();
	}
	keyQueue_.pop(window.data(), frames);
	float peak = 0.0f;
	for (size_t c = 0; c < channels; ++c)
		for (float sample : keyWindow_[c])
			peak = std::max(peak, std::fabs(sample));
	return peak > threshold_.load(std::memory_order_relaxed) ? duckGain_.load(std::memory_order_relaxed)
								 : 1.0f;
}

void SidechainDucker::process(float *const *planes, uint32_t frames, bool keyAttached, bool live)
{
	if (frames == 0)
		return;
	if (live) {
		gain_ = 1.0f;
		return;
	}
	const float target = keyAttached ? keyTarget(frames) : 1.0f;
	const size_t channels = PlanarRing::countChannels(planes);
	const float attack = attackCoef_.load(std::memory_order_relaxed);
	const float release = releaseCoef_.load(std::memory_order_relaxed);
	float gain = gain_;
	for (uint32_t i = 0; i < frames; ++i) {
		smoothTowards(gain, target, attack, release);
		for (size_t c = 0; c < channels; ++c)
			planes[c][i] *= gain;
	}
	gain_ = gain;
}

size_t SidechainDucker::queuedKeyFrames()
{
	std::lock_guard lock(keyLock_);
	return keyQueue_.size();
}

} // namespace kestrel
