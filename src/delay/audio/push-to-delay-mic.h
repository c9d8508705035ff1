#pragma once

#include "delay/audio/planar-ring.h"
#include "delay/delays-disabled.h"

#include <atomic>
#include <cstdint>
#include <mutex>

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

	// `maxChannels`: the most channels a packet may carry; more pass untouched.
	explicit PushToDelayMic(uint32_t sampleRate = 48000, size_t maxChannels = 2);

	// From any thread but the audio thread: a new delay gets its storage here. The delay lines
	// keep their newest contents.
	void configure(const Settings &settings);
	// The per-instance OBS hotkey, from OBS's hotkey thread.
	void setHotkeyHeld(bool held) { hotkeyHeld_.store(held, std::memory_order_relaxed); }

	// Processes one packet in place; `planes` has 8 slots, the leading non-null ones are the
	// channels. `live` (delays switched off) passes the voice untouched and empties the lines.
	// Never allocates or waits.
	void process(float *const *planes, uint32_t frames, bool live);

	uint64_t delayFrames() const;
	size_t queuedFrames() const;

private:
	// The settings as one packet uses them.
	struct Levels {
		uint64_t delayFrames = 0;
		uint32_t key = kDefaultKey;
		bool livePriority = true;
		float duckGain = 1.0f;
	};

	bool keyHeld(uint32_t key) const;
	void delay(float *const *planes, size_t channels, size_t frames, uint64_t delayFrames, bool held);
	void mix(float *const *planes, size_t channels, size_t frames, const Levels &levels, bool held);

	const uint32_t sampleRate_;
	const size_t maxChannels_;
	const size_t maxPacket_;
	const float threshold_;
	const float attackCoef_;
	const float releaseCoef_;
	std::atomic<bool> hotkeyHeld_{false};
	std::mutex configureLock_; // one configure at a time

	// Guards levels_ and lines_; the audio thread only ever tries it.
	mutable std::mutex stateLock_;
	Levels levels_;
	PlanarRing lines_;
	DumpWatch dumps_;

	// The audio thread's own.
	Levels lastLevels_;
	float envelope_ = 0.0f;
	float gain_ = 1.0f;
	std::vector<std::vector<float>> delayed_;
};

} // namespace kestrel
