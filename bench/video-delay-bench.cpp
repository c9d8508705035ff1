#include "delay/video/frame-codec.h"
#include "delay/video/video-delay-worker.h"
#include "game-frame.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <map>
#include <thread>
#include <utility>

namespace kestrel::bench {
namespace {

using namespace std::chrono_literals;

constexpr size_t kFrameVariants = 4;
constexpr double kRawFrameMB = 1920.0 * 1080 * 4 / 1e6; // 8.29 MB

const std::vector<std::vector<uint8_t>> &framesFor(uint32_t width, uint32_t height)
{
	static std::map<std::pair<uint32_t, uint32_t>, std::vector<std::vector<uint8_t>>> cache;
	auto &frames = cache[{width, height}];
	if (frames.empty())
		for (uint32_t i = 0; i < kFrameVariants; ++i)
			frames.push_back(gameFrame(width, height, i * 7));
	return frames;
}

FrameCodecOptions optionsFor(int64_t library)
{
	FrameCodecOptions options;
	options.jpegLibrary = library == 0 ? JpegLibrary::LibJpegTurbo : JpegLibrary::LibAvCodec;
	return options;
}

struct Case {
	FrameCodecOptions options;
	uint32_t width, height;
	int quality;
	bool full444;
};

// Arguments: library (0 libjpeg-turbo, 1 libavcodec), height (720 or 1080), quality, 4:4:4.
Case caseOf(const benchmark::State &state)
{
	const auto height = static_cast<uint32_t>(state.range(1));
	return {optionsFor(state.range(0)), height * 16 / 9, height, static_cast<int>(state.range(2)),
		state.range(3) != 0};
}

void BM_Encode(benchmark::State &state)
{
	const Case c = caseOf(state);
	const auto &frames = framesFor(c.width, c.height);
	FrameCodec codec(c.options);
	std::vector<uint8_t> packet;
	uint64_t timestamp = 0;
	size_t bytes = 0, index = 0;
	for (auto _ : state) {
		const auto &frame = frames[index++ % frames.size()];
		if (!codec.encode(frame.data(), c.width, c.height, c.quality, c.full444, 0, index, packet,
				  timestamp))
			state.SkipWithError("encode failed");
		bytes += packet.size();
	}
	state.counters["KB_per_frame"] =
	    static_cast<double>(bytes) / 1024.0 / static_cast<double>(state.iterations());
}

void BM_Decode(benchmark::State &state)
{
	const Case c = caseOf(state);
	const auto &frames = framesFor(c.width, c.height);
	FrameCodec codec(c.options);
	std::vector<std::vector<uint8_t>> packets(frames.size());
	uint64_t timestamp = 0;
	for (size_t i = 0; i < frames.size(); ++i)
		codec.encode(frames[i].data(), c.width, c.height, c.quality, c.full444, 0, 1, packets[i],
			     timestamp);
	std::vector<uint8_t> rgba;
	uint32_t width = 0, height = 0;
	size_t index = 0;
	for (auto _ : state) {
		const auto &packet = packets[index++ % packets.size()];
		if (!codec.decode(packet.data(), packet.size(), rgba, width, height))
			state.SkipWithError("decode failed");
	}
}

uint64_t steadyNs()
{
	return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
					 std::chrono::steady_clock::now().time_since_epoch())
					 .count());
}

double processCpuSeconds()
{
	rusage usage{};
	getrusage(RUSAGE_SELF, &usage);
	return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
	       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Copies a frame into a pooled buffer the way the graphics thread does after a read-back.
void submitCopy(VideoDelayWorker &worker, const std::vector<uint8_t> &frame, uint32_t width, uint32_t height)
{
	std::vector<uint8_t> buffer = worker.takeBuffer();
	buffer.assign(frame.begin(), frame.end());
	worker.submitRawFrame({std::move(buffer), width, height, steadyNs()});
}

// The worker flat out: frames are handed over whenever the queue has room, with a short delay
// so every frame is also decoded. Frames per second = what one worker thread sustains.
void BM_WorkerSustained(benchmark::State &state)
{
	const Case c = caseOf(state);
	const auto &frames = framesFor(c.width, c.height);
	for (auto _ : state) {
		VideoDelayWorker worker(steadyNs, c.options);
		worker.applySettings({50'000'000, c.quality, c.full444, 0});
		worker.start();
		const auto start = std::chrono::steady_clock::now();
		const double cpuStart = processCpuSeconds();
		size_t index = 0;
		while (std::chrono::steady_clock::now() - start < 3s) {
			if (worker.stats().queuedFrames < VideoDelayWorker::kCaptureQueueLimit)
				submitCopy(worker, frames[index++ % frames.size()], c.width, c.height);
			else
				std::this_thread::sleep_for(200us);
		}
		const double seconds =
		    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		const VideoDelayWorker::Stats stats = worker.stats();
		state.counters["encoded_fps"] = static_cast<double>(stats.encodedFrames) / seconds;
		state.counters["decoded_fps"] = static_cast<double>(stats.decodedFrames) / seconds;
		state.counters["cpu_cores"] = (processCpuSeconds() - cpuStart) / seconds;
	}
}

// 1080p frames handed over at exactly 60 per second for six seconds through a two-second delay:
// drops, decoded frames per second once the delay has filled, and the ring's memory per
// delayed second against raw RGBA.
void BM_Worker1080p60(benchmark::State &state)
{
	const FrameCodecOptions options = optionsFor(state.range(0));
	const int quality = static_cast<int>(state.range(1));
	const bool full444 = state.range(2) != 0;
	const auto &frames = framesFor(1920, 1080);
	constexpr double delaySeconds = 2.0;
	for (auto _ : state) {
		VideoDelayWorker worker(steadyNs, options);
		worker.applySettings({static_cast<uint64_t>(delaySeconds * 1e9), quality, full444, 0});
		worker.start();
		const auto start = std::chrono::steady_clock::now();
		const double cpuStart = processCpuSeconds();
		uint64_t decodedAtFill = 0;
		for (int frame = 0; frame < 360; ++frame) {
			std::this_thread::sleep_until(start +
						      frame * std::chrono::nanoseconds(1'000'000'000 / 60));
			if (frame == 150)
				decodedAtFill = worker.stats().decodedFrames;
			submitCopy(worker, frames[static_cast<size_t>(frame) % frames.size()], 1920, 1080);
		}
		const double seconds =
		    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		const VideoDelayWorker::Stats stats = worker.stats();
		state.counters["dropped"] = static_cast<double>(stats.droppedFrames);
		state.counters["decoded_fps"] =
		    static_cast<double>(stats.decodedFrames - decodedAtFill) / (seconds - 2.5);
		state.counters["cpu_cores"] = (processCpuSeconds() - cpuStart) / seconds;
		const double ringMBPerSecond = static_cast<double>(stats.ringBytes) / 1e6 / delaySeconds;
		state.counters["ring_MB_per_s"] = ringMBPerSecond;
		state.counters["raw_over_ring"] = kRawFrameMB * 60.0 / ringMBPerSecond;
	}
}

void codecArguments(benchmark::internal::Benchmark *bench)
{
	bench->ArgNames({"lib", "height", "q", "444"});
	for (int64_t library : {0, 1})
		for (int64_t height : {720, 1080})
			for (int64_t quality : {1, 3, 10})
				for (int64_t full444 : {0, 1})
					bench->Args({library, height, quality, full444});
	bench->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Encode)->Apply(codecArguments);
BENCHMARK(BM_Decode)->Apply(codecArguments);
BENCHMARK(BM_WorkerSustained)
    ->ArgNames({"lib", "height", "q", "444"})
    ->Args({0, 1080, 3, 0})
    ->Args({1, 1080, 3, 0})
    ->Args({0, 1080, 3, 1})
    ->Args({0, 720, 3, 0})
    ->Args({1, 720, 3, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Worker1080p60)
    ->ArgNames({"lib", "q", "444"})
    ->Args({0, 3, 0})
    ->Args({1, 3, 0})
    ->Args({0, 1, 0})
    ->Args({0, 10, 0})
    ->Args({0, 3, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kestrel::bench
