#include "delay/audio/push-to-delay-mic.h"

#include "delay/audio/audio-levels.h"
#include "delay/delay-time.h"
#include "platform/key-state.h"

#include <algorithm>

namespace kestrel {

namespace {

constexpr double kLiveVoiceThresholdDb = -45.0;
constexpr float kAttackSeconds = 0.010f;
constexpr float kReleaseSeconds = 0.150f;

} // namespace

PushToDelayMic::PushToDelayMic(uint32_t sampleRate)
    : sampleRate_(sampleRate), threshold_(decibelsToGain(kLiveVoiceThresholdDb)),
      attackCoef_(smoothingCoefficient(sampleRate, kAttackSeconds)),
      releaseCoef_(smoothingCoefficient(sampleRate, kReleaseSeconds))
{
}

void PushToDelayMic::configure(const Settings &settings)
{
	delayFrames_.store(delayFramesFor(sampleRate_, delayMilliseconds(settings.delaySeconds)),
			   std::memory_order_relaxed);
	key_.store(settings.key, std::memory_order_relaxed);
	livePriority_.store(settings.livePriority, std::memory_order_relaxed);
	duckGain_.store(decibelsToGain(settings.duckDecibels), std::memory_order_relaxed);
}

bool PushToDelayMic::keyHeld() const
{
	return hotkeyHeld_.load(std::memory_order_relaxed) ||
	       platform::isKeyDown(key_.load(std::memory_order_relaxed));
}

// Held, the voice goes into the lines; up, the lines record silence so what was said while
// held keeps its place.
void PushToDelayMic::record(const float *const *planes, size_t channels, uint32_t frames, bool held)
{
	if (held) {
		lines_.push(planes, frames);
		return;
	}
	if (silence_.size() < frames)
		silence_.resize(frames);
	std::array<const float *, PlanarRing::kMaxChannels> zeros{};
	for (size_t c = 0; c < channels; ++c)
		zeros[c] = silence_.data();
	lines_.push(zeros.data(), frames);
}

// A line gives one sample back per sample recorded once it holds more than the delay, so the
// packet's delayed samples are silence up to that point and then the lines' oldest samples.
void PushToDelayMic::takeDelayed(size_t channels, uint32_t frames)
{
	const uint64_t delay = delayFrames();
	const size_t due = lines_.size() > delay ? static_cast<size_t>(lines_.size() - delay) : 0;
	std::array<float *, PlanarRing::kMaxChannels> out{};
	for (size_t c = 0; c < channels; ++c) {
		delayed_[c].resize(frames);
		std::fill(delayed_[c].begin(), delayed_[c].end() - static_cast<ptrdiff_t>(due), 0.0f);
		out[c] = delayed_[c].data() + (frames - due);
	}
	lines_.pop(out.data(), due);
}

void PushToDelayMic::process(float *const *planes, uint32_t frames, bool live)
{
	const size_t channels = PlanarRing::countChannels(planes);
	if (channels == 0)
		return;
	if (live) {
		lines_.clear(true);
		return;
	}
	if (channels != lines_.channels())
		lines_.setChannels(channels);
	const bool held = keyHeld();
	if (frames == 0)
		return;

	// A lowered delay takes effect at once: the oldest samples beyond it are dropped.
	lines_.trimTo(delayFrames());
	record(planes, channels, frames, held);
	takeDelayed(channels, frames);

	const float duckGain = duckGain_.load(std::memory_order_relaxed);
	const bool livePriority = livePriority_.load(std::memory_order_relaxed);
	float envelope = envelope_;
	float gain = gain_;
	for (uint32_t i = 0; i < frames; ++i) {
		// The envelope follows the live voice only; it decays while the key is held.
		float peak = 0.0f;
		if (!held)
			for (size_t c = 0; c < channels; ++c)
				peak = std::max(peak, std::fabs(planes[c][i]));
		smoothTowards(envelope, peak, releaseCoef_, attackCoef_);
		const float target = livePriority && envelope > threshold_ ? duckGain : 1.0f;
		smoothTowards(gain, target, attackCoef_, releaseCoef_);
		for (size_t c = 0; c < channels; ++c) {
			const float liveVoice = held ? 0.0f : planes[c][i];
			planes[c][i] = std::clamp(delayed_[c][i] * gain + liveVoice, -1.0f, 1.0f);
		}
	}
	envelope_ = envelope;
	gain_ = gain;
}

} // namespace kestrel
