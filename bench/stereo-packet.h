#pragma once

#include "allocation-counter.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace kestrel::bench {

// OBS's audio shape: 48 kHz stereo in 1024-frame packets.
constexpr uint32_t kRate = 48000;
constexpr uint32_t kFrames = 1024;
constexpr size_t kChannels = 2;
constexpr uint64_t kPacketNs = kFrames * 1'000'000'000ull / kRate;

struct StereoPacket {
	StereoPacket() : left(kFrames, 0.25f), right(kFrames, -0.25f), planes{left.data(), right.data()} {}
	StereoPacket(const StereoPacket &) = delete;
	StereoPacket &operator=(const StereoPacket &) = delete;

	std::vector<float> left, right;
	float *planes[8];
};

// Items are samples (frames x channels); ns_per_sample is the figure to compare.
inline void setSamplesProcessed(benchmark::State &state)
{
	const auto samples = static_cast<double>(state.iterations() * kFrames * kChannels);
	state.SetItemsProcessed(state.iterations() * kFrames * kChannels);
	state.SetBytesProcessed(state.iterations() * kFrames * kChannels * sizeof(float));
	state.counters["ns_per_sample"] =
	    benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A steady stream must not allocate: heap allocations per packet since `before`.
inline void setAllocationsPerPacket(benchmark::State &state, uint64_t before)
{
	state.counters["allocs_per_packet"] =
	    static_cast<double>(allocationCount() - before) / static_cast<double>(state.iterations());
}

} // namespace kestrel::bench
