#pragma once

#include "delay/audio/planar-ring.h"

#include <atomic>
#include <cstdint>

namespace kestrel {

// A microphone that goes into a delay while a key is held: held, the voice is silent live and
// comes out a fixed number of samples later; up, it is live. With live priority the delayed
// voice is lowered while the user speaks live, so a delayed call does not cover the live voice.
class PushToDelayMic {
public:
	static constexpr uint32_t kDefaultKey = 86; // V

	struct Settings {
		double delaySeconds;
		uint32_t key; // Windows virtual-key code polled from the desktop; 0: OBS hotkey only
		bool livePriority;
		double duckDecibels;
	};

	explicit PushToDelayMic(uint32_t sampleRate = 48000);

	// May be called from any thread; the delay lines keep their contents.
	void configure(const Settings &settings);
	// The per-instance OBS hotkey, from OBS's hotkey thread.
	void setHotkeyHeld(bool held) { hotkeyHeld_.store(held, std::memory_order_relaxed); }

	// Processes one packet in place; `planes` has 8 slots, the leading non-null ones are the
	// channels. `live` (delays switched off) passes the voice untouched and empties the lines.
	void process(float *const *planes, uint32_t frames, bool live);

	uint64_t delayFrames() const { return delayFrames_.load(std::memory_order_relaxed); }
	size_t queuedFrames() const { return lines_.size(); }

private:
	bool keyHeld() const;
	void record(const float *const *planes, size_t channels, uint32_t frames, bool held);
	void takeDelayed(size_t channels, uint32_t frames);

	const uint32_t sampleRate_;
	const float threshold_;
	const float attackCoef_;
	const float releaseCoef_;
	std::atomic<uint64_t> delayFrames_{0};
	std::atomic<uint32_t> key_{kDefaultKey};
	std::atomic<bool> livePriority_{true};
	std::atomic<float> duckGain_{1.0f};
	std::atomic<bool> hotkeyHeld_{false};

	float envelope_ = 0.0f;
	float gain_ = 1.0f;
	PlanarRing lines_;
	std::array<std::vector<float>, PlanarRing::kMaxChannels> delayed_;
	std::vector<float> silence_;
};

} // namespace kestrel
