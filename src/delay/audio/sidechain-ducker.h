#pragma once

#include "delay/audio/planar-ring.h"
#include "delay/delays-disabled.h"

#include <cstdint>
#include <mutex>

namespace kestrel {

// Lowers a sound while a key source (normally the delayed microphone) carries sound. The key's
// samples are queued as they are captured and consumed one packet's worth per packet of the
// ducked sound, so the key acts with its delay; the key gates per packet and the gain slides
// per sample.
class SidechainDucker {
public:
	struct Settings {
		uint32_t sampleRate;
		double keyDelaySeconds;
		double thresholdDb;
		double amountDb;
		int64_t attackMs;
		int64_t releaseMs;
	};

	// `keyChannels`: the most channels a key packet may carry; a key with more is ignored.
	explicit SidechainDucker(size_t keyChannels = 2);

	// From any thread but the audio threads: a new key delay gets its storage here.
	void configure(const Settings &settings);

	// The key's audio, from the thread that delivers it; a muted key counts as silence.
	void pushKey(const float *const *planes, uint32_t frames, bool muted);

	// Applies the gain in place to one packet of the ducked sound. Only an attached key is
	// consumed; `live` (delays switched off) passes the sound untouched.
	void process(float *const *planes, uint32_t frames, bool keyAttached, bool live);

	float gain() const { return gain_; }
	size_t queuedKeyFrames() const;

private:
	// The settings as one packet uses them.
	struct Levels {
		uint32_t sampleRate = 48000;
		uint64_t keyDelayFrames = 0;
		float threshold = 1.0f;
		float duckGain = 1.0f;
		float attackCoef = 1.0f;
		float releaseCoef = 1.0f;
	};

	float keyTarget(uint32_t frames);

	const size_t keyChannels_;
	std::mutex configureLock_; // one configure at a time

	// Guards levels_ and keyQueue_; the audio threads only ever try it.
	mutable std::mutex keyLock_;
	Levels levels_;
	PlanarRing keyQueue_;
	DumpWatch dumps_; // either audio thread, under keyLock_

	// The ducked sound's audio thread's own.
	Levels lastLevels_;
	float lastTarget_ = 1.0f;
	float gain_ = 1.0f;
};

} // namespace kestrel
