#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Chooses the software H.264 engine's quantiser one group of pictures at a time, so that the
// ring's bits per second of capture time keep to a target whatever the content: the group that
// ended tells how far its quantiser missed, and six steps double or halve the bits. Picking a
// constant quantiser per group keeps the encoder free of its own rate control, whose look-ahead
// analysis would double the encoding time.
class GroupRateControl {
public:
	static constexpr int kMaxQuantiser = 51;
	// A group shorter than this says too little about the content to steer by.
	static constexpr uint64_t kMeasuredSpanNs = 250'000'000;
	// A group ends early once it has spent this many times its share.
	static constexpr double kOverspendFactor = 1.5;

	// Whether the group under way has overspent the target so far, so it should end now rather
	// than at its natural end. Never without a target.
	bool overspending(uint64_t captureTimestamp, uint64_t targetBitsPerSecond) const;

	// A group starts with the frame captured at `timestamp`: returns its quantiser, at least
	// `floorQuantiser` (the best quality worth spending on), and steered to
	// `targetBitsPerSecond` (0: no target, the floor).
	int startGroup(uint64_t timestamp, uint64_t targetBitsPerSecond, int floorQuantiser);

	// Counts one packet of the group under way.
	void count(size_t bytes) { groupBytes_ += bytes; }

private:
	double bitsPerSecondSince(uint64_t timestamp) const;

	int quantiser_ = 0; // 0 until the first group
	uint64_t groupStart_ = 0;
	uint64_t groupBytes_ = 0;
};

} // namespace kestrel
