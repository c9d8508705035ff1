#pragma once

#include "delay/audio/planar-ring.h"

#include <atomic>
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

	// May be called from any thread.
	void configure(const Settings &settings);

	// The key's audio, from the thread that delivers it; a muted key counts as silence.
	void pushKey(const float *const *planes, uint32_t frames, bool muted);

	// Applies the gain in place to one packet of the ducked sound. Only an attached key is
	// consumed; `live` (delays switched off) passes the sound untouched.
	void process(float *const *planes, uint32_t frames, bool keyAttached, bool live);

	float gain() const { return gain_; }
	size_t queuedKeyFrames();

private:
	float keyTarget(uint32_t frames);

	std::atomic<uint32_t> sampleRate_{48000};
	std::atomic<uint64_t> keyDelayFrames_{0};
	std::atomic<float> threshold_{1.0f};
	std::atomic<float> duckGain_{1.0f};
	std::atomic<float> attackCoef_{1.0f};
	std::atomic<float> releaseCoef_{1.0f};
	float gain_ = 1.0f;

	std::mutex keyLock_;
	PlanarRing keyQueue_;
	std::array<std::vector<float>, PlanarRing::kMaxChannels> keyWindow_;
	std::vector<float> silence_;
};

} // namespace kestrel
