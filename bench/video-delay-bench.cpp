#include "delay/video/frame-codec.h"
#include "delay/video/video-delay-worker.h"
#include "game-frame.h"
#include "stream-encode.h"
#include "test-images.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/log.h>
}

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <map>
#include <optional>
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

// Copies a frame into a pooled buffer the way the graphics thread does after a read-back;
// returns its capture time.
uint64_t submitCopy(VideoDelayWorker &worker, const std::vector<uint8_t> &frame, uint32_t width,
		    uint32_t height)
{
	std::vector<uint8_t> buffer = worker.takeBuffer();
	buffer.assign(frame.begin(), frame.end());
	const uint64_t timestamp = steadyNs();
	worker.submitRawFrame({std::move(buffer), width, height, timestamp});
	return timestamp;
}

// The worker flat out: frames are handed over whenever the queue has room, with a short delay
// so every frame is also decoded. Frames per second = what one worker thread sustains.
void BM_WorkerSustained(benchmark::State &state)
{
	const Case c = caseOf(state);
	const auto &frames = framesFor(c.width, c.height);
	for (auto _ : state) {
		VideoDelayWorker worker(steadyNs, c.options);
		worker.applySettings({50'000'000, c.quality, c.full444, 0, 0});
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

// The delay a memory budget is spread over; the frames before the budget's quantiser has settled
// (its first groups start coarse and come down four steps a group), which the codec's figures
// leave out; and the frames a stream encode takes to settle, which what viewers see leaves out.
constexpr uint64_t kBudgetDelayNs = 120'000'000'000;
constexpr uint32_t kBudgetSettledFrom = 360;
constexpr uint32_t kSettledFrom = 120;

// The bit rate the worker asks of software H.264 for a budget over the long delay, with the ring
// as full as it gets.
uint64_t budgetBitRate(int64_t megabytes)
{
	if (megabytes == 0)
		return 0;
	return VideoDelayWorker::budgetBitRate(PacketRing{}, static_cast<uint64_t>(megabytes) << 20,
					       kBudgetDelayNs, 0);
}

// The ring side by side at 1080p60: 600 consecutive frames encoded and decoded in order, timing
// only the codec (CPU milliseconds of the thread), then what viewers get: the ring's output and
// the source itself each streamed at 6 Mb/s and compared with the source. Arguments: engine (0
// JPEG, 2 H.264 on the CPU), scene (0 game frames with grain, 1 panning scene without), quality,
// memory budget in MB over a 120 s delay (0: none, a constant quantiser).
void BM_Engine1080p(benchmark::State &state)
{
	av_log_set_level(AV_LOG_ERROR);
	const int engine = static_cast<int>(state.range(0));
	const int64_t scene = state.range(1);
	const int quality = static_cast<int>(state.range(2));
	constexpr uint32_t width = 1920, height = 1080, frames = kBudgetSettledFrom + 240;
	static std::map<int64_t, double> sourceStreamDb; // the same for every engine
	for (auto _ : state) {
		FrameCodec codec;
		codec.setTargetBitRate(budgetBitRate(state.range(3)));
		StreamEncode ringStream(width, height, kBudgetSettledFrom);
		std::optional<StreamEncode> sourceStream;
		if (!sourceStreamDb.count(scene))
			sourceStream.emplace(width, height, kBudgetSettledFrom);
		std::vector<uint8_t> packet, decoded;
		double encodeMs = 0, decodeMs = 0, psnrSum = 0;
		size_t bytes = 0;
		for (uint32_t index = 0; index < frames; ++index) {
			const std::vector<uint8_t> source = sceneFrame(scene, width, height, index);
			uint64_t timestamp = 0;
			uint32_t outWidth = 0, outHeight = 0;
			const double encodeStart = threadCpuMs();
			const bool encoded = codec.encode(source.data(), width, height, quality, false,
							  engine, index * 16'666'667ull, packet, timestamp);
			const double decodeStart = threadCpuMs();
			const bool decodedOk = encoded && codec.decode(packet.data(), packet.size(), decoded,
								       outWidth, outHeight);
			if (!decodedOk) {
				state.SkipWithError("encode or decode failed");
				break;
			}
			if (index >= kBudgetSettledFrom) {
				encodeMs += decodeStart - encodeStart;
				decodeMs += threadCpuMs() - decodeStart;
				bytes += packet.size();
				psnrSum += test::psnr(source, decoded);
			}
			ringStream.push(decoded, source);
			if (sourceStream)
				sourceStream->push(source, source);
		}
		if (sourceStream)
			sourceStreamDb[scene] = sourceStream->finish();
		const double settled = frames - kBudgetSettledFrom;
		state.counters["encode_ms"] = encodeMs / settled;
		state.counters["decode_ms"] = decodeMs / settled;
		state.counters["KB_per_frame"] = static_cast<double>(bytes) / 1024.0 / settled;
		state.counters["MiB_for_120s"] = static_cast<double>(bytes) / settled * 60 * 120 / kMiB;
		state.counters["PSNR_dB"] = psnrSum / settled;
		state.counters["measured_dB"] = codec.measuredPsnr();
		state.counters["stream_dB"] = ringStream.finish();
		state.counters["stream_source_dB"] = sourceStreamDb[scene];
		state.counters["stream_loss_dB"] = sourceStreamDb[scene] - state.counters["stream_dB"];
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

// What the worker showed for six seconds, each picture with the source frame it was captured from.
constexpr size_t kShownFrames = 360;
struct ShownFrames {
	std::vector<std::vector<uint8_t>> pictures;
	std::vector<size_t> sources;
};

// The shown pictures against their sources, and each of them and the sources streamed at
// 6 Mb/s: what viewers get of the delayed picture and of the live one.
void countWhatViewersSee(benchmark::State &state, const ShownFrames &shown,
			 const std::vector<std::vector<uint8_t>> &frames)
{
	if (shown.pictures.size() <= kSettledFrom) {
		state.SkipWithError("too few pictures shown");
		return;
	}
	StreamEncode ringStream(1920, 1080, kSettledFrom), sourceStream(1920, 1080, kSettledFrom);
	double psnrSum = 0;
	for (size_t i = 0; i < shown.pictures.size(); ++i) {
		const std::vector<uint8_t> &source = frames[shown.sources[i]];
		if (i >= kSettledFrom)
			psnrSum += test::psnr(source, shown.pictures[i]);
		ringStream.push(shown.pictures[i], source);
		sourceStream.push(source, source);
	}
	state.counters["PSNR_dB"] = psnrSum / static_cast<double>(shown.pictures.size() - kSettledFrom);
	state.counters["stream_dB"] = ringStream.finish();
	state.counters["stream_source_dB"] = sourceStream.finish();
	state.counters["stream_loss_dB"] = state.counters["stream_source_dB"] - state.counters["stream_dB"];
}

// 1080p frames handed over at exactly 60 per second through the delay and eight seconds more:
// drops, and once the delay has filled (every frame then encoded and decoded, as for the rest of
// a stream) the drops, decoded frames per second and cores the worker used (the process less the
// thread handing frames over); the ring's largest size, and its memory for a 120 s delay at the
// rate it held; six seconds of the pictures shown, judged as viewers get them. Arguments as
// BM_Engine1080p, then the delay in seconds.
void BM_Worker1080p60(benchmark::State &state)
{
	av_log_set_level(AV_LOG_ERROR);
	const int engine = static_cast<int>(state.range(0));
	const int quality = static_cast<int>(state.range(2));
	const auto budgetBytes = static_cast<uint64_t>(state.range(3)) << 20;
	const auto frames = pingPongFrames(state.range(1));
	const double delaySeconds = static_cast<double>(state.range(4));
	const int total = static_cast<int>((delaySeconds + 8) * 60);
	const int filled = static_cast<int>((delaySeconds + 0.5) * 60);
	for (auto _ : state) {
		// Buffers for the shown pictures, written once beforehand: a picture is taken by swapping
		// one in, as the graphics thread does, so that taking them costs neither thread a copy
		// or a page fault.
		std::vector<std::vector<uint8_t>> spare(kShownFrames,
							std::vector<uint8_t>(frames[0].size(), 1));
		ShownFrames shown;
		RawFrame display{std::move(spare.back())};
		spare.pop_back();
		std::map<uint64_t, size_t> sourceOf; // capture time -> frame
		VideoDelayWorker worker(steadyNs);
		worker.applySettings(
		    {static_cast<uint64_t>(delaySeconds * 1e9), quality, false, engine, budgetBytes});
		worker.start();
		const auto start = std::chrono::steady_clock::now();
		std::chrono::steady_clock::time_point fillTime;
		double cpuAtFill = 0, feederAtFill = 0;
		uint64_t decodedAtFill = 0, droppedAtFill = 0, peakBytes = 0;
		for (int frame = 0; frame < total; ++frame) {
			std::this_thread::sleep_until(start +
						      frame * std::chrono::nanoseconds(1'000'000'000 / 60));
			const VideoDelayWorker::Stats stats = worker.stats();
			peakBytes = std::max(peakBytes, stats.ringBytes);
			if (frame == filled) {
				fillTime = std::chrono::steady_clock::now();
				cpuAtFill = processCpuSeconds();
				feederAtFill = threadCpuMs() / 1e3;
				decodedAtFill = stats.decodedFrames;
				droppedAtFill = stats.droppedFrames;
			}
			const size_t source = static_cast<size_t>(frame) % frames.size();
			sourceOf[submitCopy(worker, frames[source], 1920, 1080)] = source;
			if (frame > filled && !spare.empty() && worker.takeDecodedFrame(display)) {
				shown.pictures.push_back(
				    std::exchange(display.pixels, std::move(spare.back())));
				spare.pop_back();
				shown.sources.push_back(sourceOf[display.captureTimestamp]);
			}
		}
		const double steadySeconds =
		    std::chrono::duration<double>(std::chrono::steady_clock::now() - fillTime).count();
		const double feederSeconds = threadCpuMs() / 1e3 - feederAtFill;
		const VideoDelayWorker::Stats stats = worker.stats();
		state.counters["dropped"] = static_cast<double>(stats.droppedFrames);
		state.counters["dropped_filled"] = static_cast<double>(stats.droppedFrames - droppedAtFill);
		state.counters["decoded_fps"] = static_cast<double>(stats.decodedFrames - decodedAtFill) /
						(static_cast<double>(total - filled) / 60);
		state.counters["worker_cores"] =
		    (processCpuSeconds() - cpuAtFill - feederSeconds) / steadySeconds;
		const double heldSeconds = static_cast<double>(stats.heldNs) / 1e9;
		const double ringMBPerSecond = static_cast<double>(stats.ringBytes) / 1e6 / heldSeconds;
		state.counters["ring_MB_per_s"] = ringMBPerSecond;
		state.counters["raw_over_ring"] = kRawFrameMB * 60.0 / ringMBPerSecond;
		state.counters["MiB_for_120s"] = ringMBPerSecond * 1e6 * 120 / kMiB;
		state.counters["peak_MiB"] = static_cast<double>(peakBytes) / kMiB;
		state.counters["measured_dB"] = stats.psnrDb;
		state.counters["target_Mbps"] = static_cast<double>(stats.targetBitRate) / 1e6;
		worker.stop();
		countWhatViewersSee(state, shown, frames);
	}
}

// Per scene: JPEG at quality 3, software H.264 at quality 3's constant quantiser, and the same
// within a 1 GB budget.
void engineArguments(benchmark::internal::Benchmark *bench, bool withDelay)
{
	if (withDelay)
		bench->ArgNames({"engine", "scene", "q", "MB", "delay"});
	else
		bench->ArgNames({"engine", "scene", "q", "MB"});
	for (int64_t scene : {0, 1}) {
		const auto add = [&](int64_t engine, int64_t megabytes, int64_t delay) {
			if (withDelay)
				bench->Args({engine, scene, 3, megabytes, delay});
			else
				bench->Args({engine, scene, 3, megabytes});
		};
		add(FrameCodec::kEngineMjpeg, 0, 2);
		add(FrameCodec::kEngineSoftwareH264, 0, 2);
		add(FrameCodec::kEngineSoftwareH264, 1024, 120);
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
BENCHMARK(BM_Engine1080p)->Apply([](auto *bench) { engineArguments(bench, false); });
BENCHMARK(BM_Worker1080p60)->Apply([](auto *bench) { engineArguments(bench, true); });

} // namespace
} // namespace kestrel::bench
