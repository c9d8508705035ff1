#include "delay/audio/planar-ring.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace kestrel {

size_t PlanarRing::countChannels(const float *const *planes)
{
	size_t count = 0;
	for (size_t c = 0; c < kMaxChannels; ++c)
		count += planes[c] != nullptr;
	return count;
}

void PlanarRing::setChannels(size_t channels)
{
	channels_ = std::min(channels, kMaxChannels);
	clear(true);
}

void PlanarRing::clear(bool release)
{
	head_ = 0;
	size_ = 0;
	if (!release)
		return;
	capacity_ = 0;
	for (auto &plane : planes_)
		std::vector<float>().swap(plane);
}

void PlanarRing::reserve(size_t frames)
{
	if (frames <= capacity_)
		return;
	size_t grown = std::max<size_t>(capacity_ ? capacity_ : 4096, 4096);
	while (grown < frames)
		grown *= 2;
	for (size_t c = 0; c < channels_; ++c) {
		std::vector<float> bigger(grown);
		const size_t first = std::min(size_, capacity_ - head_);
		if (size_) {
			std::memcpy(bigger.data(), planes_[c].data() + head_, first * sizeof(float));
			std::memcpy(bigger.data() + first, planes_[c].data(),
				    (size_ - first) * sizeof(float));
		}
		planes_[c].swap(bigger);
	}
	capacity_ = grown;
	head_ = 0;
}

void PlanarRing::push(const float *const *planes, size_t frames)
{
	if (frames == 0)
		return;
	reserve(size_ + frames);
	const size_t tail = (head_ + size_) % capacity_;
	const size_t first = std::min(frames, capacity_ - tail);
	for (size_t c = 0; c < channels_; ++c) {
		std::memcpy(planes_[c].data() + tail, planes[c], first * sizeof(float));
		std::memcpy(planes_[c].data(), planes[c] + first, (frames - first) * sizeof(float));
	}
	size_ += frames;
}

void PlanarRing::pop(float *const *out, size_t frames)
{
	assert(frames <= size_);
	if (frames == 0)
		return;
	const size_t first = std::min(frames, capacity_ - head_);
	for (size_t c = 0; c < channels_; ++c) {
		std::memcpy(out[c], planes_[c].data() + head_, first * sizeof(float));
		std::memcpy(out[c] + first, planes_[c].data(), (frames - first) * sizeof(float));
	}
	head_ = (head_ + frames) % capacity_;
	size_ -= frames;
}

void PlanarRing::trimTo(size_t frames)
{
	if (size_ <= frames)
		return;
	const size_t drop = size_ - frames;
	head_ = (head_ + drop) % capacity_;
	size_ = frames;
}

} // namespace kestrel
