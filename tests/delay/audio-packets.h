#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kestrel::test {

// A planar packet whose samples number the stream: sample i of channel c is c * 1e6 + i, so
// every output sample says exactly which input sample it was.
class NumberedPackets {
public:
	NumberedPackets(size_t channels, uint32_t frames) : channels_(channels), frames_(frames) {}

	const float *const *next()
	{
		storage_.assign(channels_, std::vector<float>(frames_));
		for (size_t c = 0; c < channels_; ++c)
			for (uint32_t i = 0; i < frames_; ++i)
				storage_[c][i] = static_cast<float>(c * 1'000'000 + produced_ + i);
		planes_.fill(nullptr);
		for (size_t c = 0; c < channels_; ++c)
			planes_[c] = storage_[c].data();
		produced_ += frames_;
		return planes_.data();
	}

	uint64_t produced() const { return produced_; }

private:
	size_t channels_;
	uint32_t frames_;
	uint64_t produced_ = 0;
	std::vector<std::vector<float>> storage_;
	std::array<const float *, 8> planes_{};
};

// A writable planar packet for the filters that work in place.
class PlanarPacket {
public:
	PlanarPacket(size_t channels, uint32_t frames) : samples_(channels, std::vector<float>(frames))
	{
		for (size_t c = 0; c < channels; ++c)
			planes_[c] = samples_[c].data();
	}
	PlanarPacket(const PlanarPacket &) = delete;
	PlanarPacket &operator=(const PlanarPacket &) = delete;

	float *const *planes() { return planes_.data(); }
	std::vector<float> &channel(size_t c) { return samples_[c]; }

private:
	std::vector<std::vector<float>> samples_;
	std::array<float *, 8> planes_{};
};

} // namespace kestrel::test
