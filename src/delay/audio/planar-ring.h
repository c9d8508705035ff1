#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

// FIFO of planar float samples: every channel holds the same number of samples. Storage only
// grows while in use, so a steady stream moves samples with plain copies and no allocation.
class PlanarRing {
public:
	static constexpr size_t kMaxChannels = 8;

	// Channels of an audio packet with kMaxChannels plane slots: the non-null ones, which the
	// host fills from the first slot on without gaps.
	static size_t countChannels(const float *const *planes);

	void setChannels(size_t channels);
	size_t channels() const { return channels_; }
	size_t size() const { return size_; }
	size_t capacity() const { return capacity_; }

	// Appends `frames` samples of each of the first channels() planes.
	void push(const float *const *planes, size_t frames);
	// Moves the oldest `frames` samples of each channel into out[c]; requires frames <= size().
	void pop(float *const *out, size_t frames);
	// Removes the oldest samples until at most `frames` are left.
	void trimTo(size_t frames);
	// Empties the ring; the storage is freed as well when `release` is true.
	void clear(bool release);

private:
	void reserve(size_t frames);

	size_t channels_ = 0;
	size_t capacity_ = 0;
	size_t head_ = 0;
	size_t size_ = 0;
	std::array<std::vector<float>, kMaxChannels> planes_;
};

} // namespace kestrel
