#include "delay/audio/planar-ring.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrel {

size_t PlanarRing::countChannels(const float *const *planes)
{
	size_t count = 0;
	for (size_t c = 0; c < kMaxChannels; ++c)
		count += planes[c] != nullptr;
	return count;
}

PlanarRing::PlanarRing(size_t maxChannels, size_t capacity)
    : capacity_(capacity), planes_(std::min(maxChannels, kMaxChannels), std::vector<float>(capacity))
{
}

bool PlanarRing::setChannels(size_t channels)
{
	clear();
	channels_ = channels <= planes_.size() ? channels : 0;
	return channels_ == channels;
}

void PlanarRing::clear()
{
	head_ = 0;
	size_ = 0;
}

template <class Visit> void PlanarRing::forEachPiece(size_t start, size_t frames, Visit visit) const
{
	if (frames == 0)
		return;
	const size_t at = start % capacity_;
	const size_t first = std::min(frames, capacity_ - at);
	for (size_t c = 0; c < channels_; ++c) {
		visit(c, at, 0, first);
		if (first < frames)
			visit(c, 0, first, frames - first);
	}
}

void PlanarRing::makeRoom(size_t frames)
{
	if (size_ + frames > capacity_)
		trimTo(capacity_ - frames);
}

void PlanarRing::push(const float *const *planes, size_t frames)
{
	// Of a packet larger than the whole ring only its end fits.
	const size_t skipped = frames > capacity_ ? frames - capacity_ : 0;
	frames -= skipped;
	makeRoom(frames);
	forEachPiece(head_ + size_, frames, [&](size_t c, size_t at, size_t from, size_t count) {
		std::memcpy(planes_[c].data() + at, planes[c] + skipped + from, count * sizeof(float));
	});
	size_ += frames;
}

void PlanarRing::pushSilence(size_t frames)
{
	frames = std::min(frames, capacity_);
	makeRoom(frames);
	forEachPiece(head_ + size_, frames, [&](size_t c, size_t at, size_t, size_t count) {
		std::fill_n(planes_[c].data() + at, count, 0.0f);
	});
	size_ += frames;
}

size_t PlanarRing::pop(float *const *out, size_t frames)
{
	frames = std::min(frames, size_);
	forEachPiece(head_, frames, [&](size_t c, size_t at, size_t to, size_t count) {
		std::memcpy(out[c] + to, planes_[c].data() + at, count * sizeof(float));
	});
	trimTo(size_ - frames);
	return frames;
}

float PlanarRing::popPeak(size_t frames)
{
	frames = std::min(frames, size_);
	float peak = 0.0f;
	forEachPiece(head_, frames, [&](size_t c, size_t at, size_t, size_t count) {
		for (const float *sample = planes_[c].data() + at; sample != planes_[c].data() + at + count;
		     ++sample)
			peak = std::max(peak, std::fabs(*sample));
	});
	trimTo(size_ - frames);
	return peak;
}

void PlanarRing::trimTo(size_t frames)
{
	if (size_ <= frames)
		return;
	head_ = (head_ + size_ - frames) % capacity_;
	size_ = frames;
}

void PlanarRing::copyNewestFrom(const PlanarRing &other)
{
	if (!setChannels(other.channels_))
		return;
	const size_t frames = std::min(other.size_, capacity_);
	other.forEachPiece(
	    other.head_ + other.size_ - frames, frames, [&](size_t c, size_t at, size_t to, size_t count) {
		    std::memcpy(planes_[c].data() + to, other.planes_[c].data() + at, count * sizeof(float));
	    });
	size_ = frames;
}

} // namespace kestrel
