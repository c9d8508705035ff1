#include "delay/audio/audio-delay-line.h"
#include "delay/source-types.h"

#include "stereo-packet.h"

#include <benchmark/benchmark.h>

#include <obs.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

using namespace kestrel::bench;

// Steady state of a 20 s delay: the fill happens before timing starts.
void BM_AudioDelay20s(benchmark::State &state)
{
	kestrel::AudioDelayLine line(kRate);
	line.setDelaySeconds(20.0);
	StereoPacket packet;
	uint64_t time = 0;
	while (line.process(packet.planes, kFrames, time, false) != kestrel::AudioDelayLine::Result::Delayed)
		time += kPacketNs;
	const uint64_t allocationsBefore = allocationCount();
	for (auto _ : state) {
		time += kPacketNs;
		auto result = line.process(packet.planes, kFrames, time, false);
		benchmark::DoNotOptimize(result);
		benchmark::DoNotOptimize(line.output(0));
	}
	setAllocationsPerPacket(state, allocationsBefore);
	setSamplesProcessed(state);
}
BENCHMARK(BM_AudioDelay20s);

// Nanoseconds one call of `call` takes.
template <class Call> double timed(Call call)
{
	const auto start = std::chrono::steady_clock::now();
	call();
	return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

// OBS's audio thread must never stall: the worst single filter_audio call of a real filter
// while a 120 s stereo delay fills from empty (the first 120 s of packets), next to the calls
// once it is full, with the heap allocations made in each stretch. The storage is made in
// create, outside the timing.
void BM_WorstCallWhile120sFills(benchmark::State &state, const obs_source_info &info)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_double(settings, "delay_s", 120.0);
	StereoPacket packet;
	obs_audio_data audio{};
	audio.data[0] = reinterpret_cast<uint8_t *>(packet.left.data());
	audio.data[1] = reinterpret_cast<uint8_t *>(packet.right.data());
	audio.frames = kFrames;
	constexpr int kFillCalls = 120 * kRate / kFrames, kSteadyCalls = 4000;
	double worstFill = 0, worstSteady = 0, steadyTotal = 0;
	uint64_t fillAllocations = 0, steadyAllocations = 0;
	for (auto _ : state) {
		void *filter = info.create(settings, nullptr);
		const auto call = [&] {
			audio.timestamp += kPacketNs;
			benchmark::DoNotOptimize(info.filter_audio(filter, &audio));
		};
		uint64_t before = allocationCount();
		for (int i = 0; i < kFillCalls; ++i)
			worstFill = std::max(worstFill, timed(call));
		fillAllocations += allocationCount() - before;
		before = allocationCount();
		for (int i = 0; i < kSteadyCalls; ++i) {
			const double ns = timed(call);
			worstSteady = std::max(worstSteady, ns);
			steadyTotal += ns;
		}
		steadyAllocations += allocationCount() - before;
		info.destroy(filter);
	}
	const auto iterations = static_cast<double>(state.iterations());
	state.counters["worst_fill_us"] = worstFill / 1000;
	state.counters["worst_steady_us"] = worstSteady / 1000;
	state.counters["mean_steady_us"] = steadyTotal / (kSteadyCalls * iterations) / 1000;
	state.counters["fill_allocs"] = static_cast<double>(fillAllocations) / iterations;
	state.counters["steady_allocs"] = static_cast<double>(steadyAllocations) / iterations;
}
BENCHMARK_CAPTURE(BM_WorstCallWhile120sFills, audio_delay, kestrel::audioDelaySourceInfo())
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WorstCallWhile120sFills, push_to_delay_mic, kestrel::pushToDelayMicSourceInfo())
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The floor: copying the same bytes once, from a buffer that stays in cache.
void BM_MemcpySamePacket(benchmark::State &state)
{
	StereoPacket packet;
	std::vector<float> outL(kFrames), outR(kFrames);
	for (auto _ : state) {
		std::memcpy(outL.data(), packet.planes[0], kFrames * sizeof(float));
		std::memcpy(outR.data(), packet.planes[1], kFrames * sizeof(float));
		benchmark::DoNotOptimize(outL.data());
		benchmark::DoNotOptimize(outR.data());
		benchmark::ClobberMemory();
	}
	setSamplesProcessed(state);
}
BENCHMARK(BM_MemcpySamePacket);

// The floor for a 20 s delay's memory traffic: the copy goes through a buffer as large as the
// delay, so it misses the cache as the delay line must.
void BM_MemcpyThroughDelaySizedBuffer(benchmark::State &state)
{
	StereoPacket packet;
	const size_t span = 20 * kRate;
	std::vector<float> bufL(span), bufR(span);
	size_t at = 0;
	for (auto _ : state) {
		std::memcpy(bufL.data() + at, packet.planes[0], kFrames * sizeof(float));
		std::memcpy(bufR.data() + at, packet.planes[1], kFrames * sizeof(float));
		benchmark::DoNotOptimize(bufL.data());
		benchmark::ClobberMemory();
		at = (at + kFrames) % (span - kFrames);
	}
	setSamplesProcessed(state);
}
BENCHMARK(BM_MemcpyThroughDelaySizedBuffer);

} // namespace
