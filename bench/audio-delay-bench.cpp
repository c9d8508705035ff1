#include "delay/audio/audio-delay-line.h"

#include "stereo-packet.h"
#include "worst-call.h"

#include <benchmark/benchmark.h>

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

// The storage for the delay is made by setDelaySeconds (the filter's create), outside the timing.
void BM_AudioDelayWorstCallWhile120sFills(benchmark::State &state)
{
	StereoPacket packet;
	WorstCalls calls;
	uint64_t time = 0;
	for (auto _ : state) {
		kestrel::AudioDelayLine line(kRate);
		line.setDelaySeconds(120.0);
		calls.measure([&] {
			time += kPacketNs;
			benchmark::DoNotOptimize(line.process(packet.planes, kFrames, time, false));
			benchmark::DoNotOptimize(line.output(0));
		});
	}
	calls.report(state);
}
BENCHMARK(BM_AudioDelayWorstCallWhile120sFills)->Iterations(5)->Unit(benchmark::kMillisecond);

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
