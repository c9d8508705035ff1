#pragma once

#include <obs.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
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
	static const char *testVideoSourceId();

	// Sets OBS's canvas and frame rate; no output may be running.
	static bool setVideo(uint32_t width, uint32_t height, uint32_t fps);
	// Loads one of OBS's own plug-ins by file name, e.g. "obs-filters".
	static bool loadObsPlugin(const char *name);
};

// Colours as OBS writes them, 0xAABBGGRR; sharply apart so JPEG artefacts never blur them.
inline constexpr std::array<uint32_t, 6> kPalette{0xff0000ff, 0xff00ff00, 0xffff0000,
						  0xff00ffff, 0xffff00ff, 0xffffffff};

// What a test video input draws: one solid colour, or with `cycle` the next palette colour at
// every video tick, at a size the test may change at any time.
struct TestPicture {
	std::atomic<uint32_t> color{kPalette[0]};
	std::atomic<bool> cycle{false};
	std::atomic<uint32_t> width{640};
	std::atomic<uint32_t> height{360};
	std::atomic<uint32_t> tick{0};
};
TestPicture &testPictureOf(obs_source_t *testVideoSource);

inline constexpr size_t kBlack = kPalette.size();       // nothing drawn
inline constexpr size_t kNoFrame = kPalette.size() + 1; // nothing rendered yet

// Index of the palette colour nearest to a pixel (R, G, B bytes), or kBlack.
size_t nearestPaletteColour(const uint8_t *rgb);

// Renders a source the way a scene would, about every 5 ms on a thread of its own inside the
// graphics context, and keeps the palette index of its centre pixel by time.
class RenderedColours {
public:
	struct Frame {
		uint64_t timestamp;
		size_t colour;
	};
	explicit RenderedColours(obs_source_t *source);
	~RenderedColours();
	RenderedColours(const RenderedColours &) = delete;
	RenderedColours &operator=(const RenderedColours &) = delete;

	std::vector<Frame> frames() const;
	// Palette index of the first frame at or after `time`, or kNoFrame.
	size_t colourAt(uint64_t time) const;

private:
	void run();
	size_t renderOnce();

	obs_source_t *source_;
	gs_texrender_t *texrender_ = nullptr;
	gs_stagesurf_t *stage_ = nullptr;
	mutable std::mutex mutex_;
	std::vector<Frame> frames_;
	std::atomic<bool> stop_{false};
	std::thread thread_;
};

// Feeds stereo packets into an audio input source in real time, with os_gettime_ns timestamps.
// With a lead, each packet goes out that long before its time, so the feeding thread may pause
// between packets up to the lead without leaving OBS's mix short of sound: a packet that comes
// after its mix has run is dropped, which a test would read as sound arriving late.
inline constexpr uint64_t kFeedLeadNs = 200'000'000;
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
