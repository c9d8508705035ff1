#pragma once

#include <obs.hpp>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::test {

inline constexpr uint32_t kSampleRate = 48000;

// A headless libobs with the built plug-in loaded, started once per test program.
// Audio always runs; video (OpenGL) runs when an X display is available.
class ObsHarness {
public:
	static bool start(std::string &error);
	static void stop();

	static obs_module_t *kestrelModule();
	static bool hasVideo();
	static const char *testAudioSourceId();
};

// Feeds stereo packets into an audio input source in real time, with os_gettime_ns timestamps.
// With a lead, each packet goes out that long before its time, so the feeding thread may pause
// between packets up to the lead without leaving OBS's mix short of sound.
class AudioFeeder {
public:
	explicit AudioFeeder(obs_source_t *source, uint32_t frames = 1024, uint64_t leadNs = 0);

	// Pushes one packet whose samples all equal `value`; waits until its time has come.
	// Returns the packet's timestamp.
	uint64_t push(float value);
	// Pushes `seconds` worth of packets of `value`.
	void pushFor(double seconds, float value);

private:
	obs_source_t *source_;
	uint32_t frames_;
	uint64_t leadNs_;
	uint64_t start_ = 0;
	uint64_t sent_ = 0;
	std::vector<float> plane_;
};

// Collects OBS's final audio mix (track 1) as timestamped samples of the first channel.
class MixCapture {
public:
	MixCapture();
	~MixCapture();

	// Timestamp (ns) of the first captured sample whose magnitude exceeds `threshold`, or 0.
	uint64_t firstLoudSampleTime(float threshold) const;
	// Timestamp (ns) of the first captured sample at or after `from` that `matches`, or 0.
	uint64_t firstSampleTime(const std::function<bool(float)> &matches, uint64_t from = 0) const;
	// Mean magnitude of the samples captured in [from, to).
	double meanLevel(uint64_t from, uint64_t to) const;

private:
	static void onAudio(void *param, size_t mix, struct audio_data *data);

	struct Block {
		uint64_t timestamp;
		std::vector<float> samples;
	};
	mutable std::mutex mutex_;
	std::vector<Block> blocks_;
};

} // namespace kestrel::test
