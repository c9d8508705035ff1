#pragma once

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

// Items are samples (frames x channels), so items per second gives the time per sample.
inline void setSamplesProcessed(benchmark::State &state)
{
	state.SetItemsProcessed(state.iterations() * kFrames * kChannels);
	state.SetBytesProcessed(state.iterations() * kFrames * kChannels * sizeof(float));
}

} // namespace kestrel::bench
