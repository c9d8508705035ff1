#include "delay/video/frame-codec.h"
#include "delay/video/video-delay-worker.h"
#include "game-frame.h"
#include "test-images.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/log.h>
}

#include <sys/resource.h>
#include <time.h>

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

// A run of consecutive frames, as a capture would give them: game frames with film grain, or
// the noiseless panning scene.
std::vector<uint8_t> sceneFrame(int64_t scene, uint32_t width, uint32_t height, uint32_t index)
{
	return scene == 0 ? gameFrame(width, height, index) : movingScene(width, height, index);
}

// CPU time rather than wall time: the figures stay honest on a machine that is busy with other
// work.
double threadCpuMs()
{
	timespec now{};
	clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
	return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

constexpr double kMiB = 1024.0 * 1024.0;

// Engines side by side at 1080p: 120 consecutive frames (one H.264 group at 60 fps) encoded and
// decoded in order, timing only the codec (CPU milliseconds of the thread). Arguments: engine (0 JPEG, 2
// H.264 on the CPU), scene (0 game frames with grain, 1 panning scene without), quality.
void BM_Engine1080p(benchmark::State &state)
{
	av_log_set_level(AV_LOG_ERROR);
	const int engine = static_cast<int>(state.range(0));
	const int quality = static_cast<int>(state.range(2));
	constexpr uint32_t width = 1920, height = 1080, frames = 120;
	for (auto _ : state) {
		FrameCodec codec;
		std::vector<uint8_t> packet, decoded;
		double encodeMs = 0, decodeMs = 0, psnrSum = 0;
		size_t bytes = 0;
		for (uint32_t index = 0; index < frames; ++index) {
			const std::vector<uint8_t> source = sceneFrame(state.range(1), width, height, index);
			uint64_t timestamp = 0;
			uint32_t outWidth = 0, outHeight = 0;
			double start = threadCpuMs();
			const bool encoded = codec.encode(source.data(), width, height, quality, false,
							  engine, index * 16'666'667ull, packet, timestamp);
			encodeMs += threadCpuMs() - start;
			start = threadCpuMs();
			const bool decodedOk = encoded && codec.decode(packet.data(), packet.size(), decoded,
								       outWidth, outHeight);
			decodeMs += threadCpuMs() - start;
			if (!decodedOk) {
				state.SkipWithError("encode or decode failed");
				break;
			}
			bytes += packet.size();
			psnrSum += test::psnr(source, decoded);
		}
		state.counters["encode_ms"] = encodeMs / frames;
		state.counters["decode_ms"] = decodeMs / frames;
		state.counters["KB_per_frame"] = static_cast<double>(bytes) / 1024.0 / frames;
		state.counters["PSNR_dB"] = psnrSum / frames;
		state.counters["MiB_for_120s"] = static_cast<double>(bytes) / frames * 60 * 120 / kMiB;
	}
}

// Consecutive frames played forwards then backwards, so motion stays smooth with few frames
// in memory.
std::vector<std::vector<uint8_t>> pingPongFrames(int64_t scene)
{
	std::vector<std::vector<uint8_t>> frames;
	for (uint32_t index = 0; index < 16; ++index)
		frames.push_back(sceneFrame(scene, 1920, 1080, index));
	for (uint32_t index = 15; index > 1; --index)
		frames.push_back(frames[index - 1]);
	return frames;
}

// 1080p frames handed over at exactly 60 per second for six seconds through a two-second delay:
// drops, decoded frames per second once the delay has filled, cores used, and the ring's memory
// per delayed second against raw RGBA and for a 120 s delay. Arguments as BM_Engine1080p.
void BM_Worker1080p60(benchmark::State &state)
{
	const int engine = static_cast<int>(state.range(0));
	const int quality = static_cast<int>(state.range(2));
	const auto frames = pingPongFrames(state.range(1));
	constexpr double delaySeconds = 2.0;
	for (auto _ : state) {
		VideoDelayWorker worker(steadyNs);
		worker.applySettings({static_cast<uint64_t>(delaySeconds * 1e9), quality, false, engine});
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
		const double heldSeconds = static_cast<double>(stats.heldNs) / 1e9;
		const double ringMBPerSecond = static_cast<double>(stats.ringBytes) / 1e6 / heldSeconds;
		state.counters["ring_MB_per_s"] = ringMBPerSecond;
		state.counters["raw_over_ring"] = kRawFrameMB * 60.0 / ringMBPerSecond;
		state.counters["MiB_for_120s"] = ringMBPerSecond * 1e6 * 120 / kMiB;
	}
}

// JPEG at quality 3 against H.264 at the qualities around the one that matches it, per scene.
void engineArguments(benchmark::internal::Benchmark *bench, std::initializer_list<int64_t> h264Qualities)
{
	bench->ArgNames({"engine", "scene", "q"});
	for (int64_t scene : {0, 1}) {
		bench->Args({FrameCodec::kEngineMjpeg, scene, 3});
		for (int64_t quality : h264Qualities)
			bench->Args({FrameCodec::kEngineSoftwareH264, scene, quality});
	}
	bench->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
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
BENCHMARK(BM_Engine1080p)->Apply([](auto *bench) { engineArguments(bench, {1, 3, 5}); });
BENCHMARK(BM_Worker1080p60)->Apply([](auto *bench) { engineArguments(bench, {3}); });

} // namespace
} // namespace kestrel::bench
