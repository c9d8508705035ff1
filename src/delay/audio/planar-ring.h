#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace kestrel {

// The largest packet the audio filters take in one piece, far above OBS's 1024 frames; their
// storage holds this much beyond the delay itself.
inline size_t maxPacketFrames(uint32_t sampleRate)
{
	return sampleRate / 4;
}

// FIFO of planar float samples with a fixed capacity: every channel holds the same number of
// samples. The storage is allocated when the ring is made, off the audio thread, so moving
// samples through it never allocates; what does not fit pushes the oldest samples out.
class PlanarRing {
public:
	static constexpr size_t kMaxChannels = 8;

	// Channels of an audio packet with kMaxChannels plane slots: the non-null ones, which the
	// host fills from the first slot on without gaps.
	static size_t countChannels(const float *const *planes);

	PlanarRing() = default;
	// Room for `capacity` samples in each of `maxChannels` planes, zero-filled so the pages are
	// in memory before the audio thread first writes them.
	PlanarRing(size_t maxChannels, size_t capacity);

	// Empties the ring and uses its first `channels` planes; false, with no channel in use, when
	// the ring has fewer planes.
	bool setChannels(size_t channels);
	size_t channels() const { return channels_; }
	size_t size() const { return size_; }
	size_t capacity() const { return capacity_; }

	// Appends `frames` samples of each channel (zeros for pushSilence); only the newest
	// capacity() samples are kept.
	void push(const float *const *planes, size_t frames);
	void pushSilence(size_t frames);
	// Moves the oldest samples, at most `frames`, of each channel into out[c]; returns how many.
	size_t pop(float *const *out, size_t frames);
	// Removes the oldest samples, at most `frames`, and returns their largest magnitude.
	float popPeak(size_t frames);
	// Removes the oldest samples until at most `frames` are left.
	void trimTo(size_t frames);
	void clear();
	// Replaces the contents with the newest samples of `other` that fit, in its channels.
	void copyNewestFrom(const PlanarRing &other);

private:
	// Calls visit(c, offset in the plane, offset in the span, count) for the one or two pieces
	// that `frames` samples from ring position `start` occupy in each channel.
	template <class Visit> void forEachPiece(size_t start, size_t frames, Visit visit) const;
	void makeRoom(size_t frames);

	size_t channels_ = 0;
	size_t capacity_ = 0;
	size_t head_ = 0;
	size_t size_ = 0;
	std::vector<std::vector<float>> planes_;
};

// Gives `ring`, which `lock` guards and the audio thread only ever tries, storage for `capacity`
// samples per channel in `maxChannels` planes, keeping its newest samples; `apply` runs under the
// same lock, so settings and the storage they need change together. The new storage is made
// before the lock is taken and the old one freed after it is released: only the copy keeps the
// audio thread out.
template <class Apply>
void resizeUnderLock(std::mutex &lock, PlanarRing &ring, size_t maxChannels, size_t capacity, Apply apply)
{
	{
		std::lock_guard locked(lock);
		if (ring.capacity() == capacity) {
			apply();
			return;
		}
	}
	PlanarRing storage(maxChannels, capacity);
	std::lock_guard locked(lock);
	apply();
	storage.copyNewestFrom(ring);
	std::swap(ring, storage);
}

} // namespace kestrel
