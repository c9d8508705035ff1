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

PushToDelayMic::PushToDelayMic(uint32_t sampleRate, size_t maxChannels)
    : sampleRate_(sampleRate), maxChannels_(std::min(maxChannels, PlanarRing::kMaxChannels)),
      maxPacket_(maxPacketFrames(sampleRate)), threshold_(decibelsToGain(kLiveVoiceThresholdDb)),
      attackCoef_(smoothingCoefficient(sampleRate, kAttackSeconds)),
      releaseCoef_(smoothingCoefficient(sampleRate, kReleaseSeconds)),
      delayed_(maxChannels_, std::vector<float>(maxPacket_))
{
}

void PushToDelayMic::configure(const Settings &settings)
{
	std::lock_guard configuring(configureLock_);
	const Levels levels{
	    .delayFrames = delayFramesFor(sampleRate_, delayMilliseconds(settings.delaySeconds)),
	    .key = settings.key,
	    .livePriority = settings.livePriority,
	    .duckGain = decibelsToGain(settings.duckDecibels),
	};
	resizeUnderLock(stateLock_, lines_, maxChannels_, levels.delayFrames + maxPacket_,
			[&] { levels_ = levels; });
}

uint64_t PushToDelayMic::delayFrames() const
{
	std::lock_guard lock(stateLock_);
	return levels_.delayFrames;
}

size_t PushToDelayMic::queuedFrames() const
{
	std::lock_guard lock(stateLock_);
	return lines_.size();
}

bool PushToDelayMic::keyHeld(uint32_t key) const
{
	return hotkeyHeld_.load(std::memory_order_relaxed) || platform::isKeyDown(key);
}

// Held, the voice goes into the lines; up, the lines record silence so what was said while
// held keeps its place. A line gives one sample back per sample recorded once it holds more
// than the delay, so the delayed samples are silence up to that point and then the oldest ones.
void PushToDelayMic::delay(float *const *planes, size_t channels, size_t frames, uint64_t delayFrames,
			   bool held)
{
	// A lowered delay takes effect at once: the oldest samples beyond it are dropped.
	lines_.trimTo(delayFrames);
	if (held)
		lines_.push(planes, frames);
	else
		lines_.pushSilence(frames);
	const size_t due = lines_.size() > delayFrames
			       ? std::min(static_cast<size_t>(lines_.size() - delayFrames), frames)
			       : 0;
	std::array<float *, PlanarRing::kMaxChannels> out{};
	for (size_t c = 0; c < channels; ++c) {
		std::fill_n(delayed_[c].begin(), frames - due, 0.0f);
		out[c] = delayed_[c].data() + (frames - due);
	}
	lines_.pop(out.data(), due);
}

void PushToDelayMic::mix(float *const *planes, size_t channels, size_t frames, const Levels &levels,
			 bool held)
{
	float envelope = envelope_;
	float gain = gain_;
	for (size_t i = 0; i < frames; ++i) {
		// The envelope follows the live voice only; it decays while the key is held.
		float peak = 0.0f;
		if (!held)
			for (size_t c = 0; c < channels; ++c)
				peak = std::max(peak, std::fabs(planes[c][i]));
		smoothTowards(envelope, peak, releaseCoef_, attackCoef_);
		const float target = levels.livePriority && envelope > threshold_ ? levels.duckGain : 1.0f;
		smoothTowards(gain, target, attackCoef_, releaseCoef_);
		for (size_t c = 0; c < channels; ++c) {
			const float liveVoice = held ? 0.0f : planes[c][i];
			planes[c][i] = std::clamp(delayed_[c][i] * gain + liveVoice, -1.0f, 1.0f);
		}
	}
	envelope_ = envelope;
	gain_ = gain;
}

void PushToDelayMic::process(float *const *planes, uint32_t frames, bool live)
{
	const size_t channels = PlanarRing::countChannels(planes);
	if (channels == 0 || channels > maxChannels_)
		return;
	// Busy only while new settings go in; the lines then sit out this packet and nothing
	// delayed plays in it.
	std::unique_lock lock(stateLock_, std::try_to_lock);
	if (lock && dumps_.dumpRequested())
		lines_.clear();
	if (live) {
		if (lock)
			lines_.clear();
		return;
	}
	if (lock) {
		lastLevels_ = levels_;
		if (channels != lines_.channels())
			lines_.setChannels(channels);
	}
	const Levels &levels = lastLevels_;
	const bool held = keyHeld(levels.key);

	std::array<float *, PlanarRing::kMaxChannels> piece{};
	for (size_t done = 0; done < frames;) {
		const size_t count = std::min<size_t>(frames - done, maxPacket_);
		for (size_t c = 0; c < channels; ++c)
			piece[c] = planes[c] + done;
		if (lock)
			delay(piece.data(), channels, count, levels.delayFrames, held);
		else
			for (size_t c = 0; c < channels; ++c)
				std::fill_n(delayed_[c].begin(), count, 0.0f);
		mix(piece.data(), channels, count, levels, held);
		done += count;
	}
}

} // namespace kestrel
