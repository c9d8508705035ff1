#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Chooses the software H.264 engine's quantiser one group of pictures at a time, so that the
// ring's bits per second of capture time keep to a target whatever the content: the group that
// ended tells how far its quantiser missed, and the last two groups at different quantisers tell
// how steeply this content's bits fall per step (grain has a cliff where the quantiser passes
// its amplitude; smooth pictures follow about six steps a halving). Picking a constant quantiser
// per group keeps the encoder free of its own rate control, whose look-ahead analysis would
// double the encoding time.
class GroupRateControl {
public:
	static constexpr int kMaxQuantiser = 51;
	// A group shorter than this says too little about the content to steer by.
	static constexpr uint64_t kMeasuredSpanNs = 250'000'000;
	// A group ends early once it has spent this many times its share.
	static constexpr double kOverspendFactor = 1.5;
	// Only groups this long are compared to learn the slope: in a group that ended early the key
	// frame weighs far more than in a full one.
	static constexpr uint64_t kSlopeSpanNs = 1'000'000'000;
	// A quantiser that overspent is not tried again for this long unless the target rises: on
	// a cliff the slope alone would swing between both sides of it.
	static constexpr uint64_t kOverspentMemoryNs = 30'000'000'000;
	// With a target but nothing measured yet, the first group starts this much coarser than the
	// floor: at the floor, grain takes twice a frame's time to encode and the first frames would
	// be dropped.
	static constexpr int kFirstGroupMargin = 12;

	// Whether the group under way has overspent the target so far, so it should end now rather
	// than at its natural end. Never without a target.
	bool overspending(uint64_t captureTimestamp, uint64_t targetBitsPerSecond) const;

	// A group starts with the frame captured at `timestamp`: returns its quantiser, at least
	// `floorQuantiser` (the best quality worth spending on), and steered to
	// `targetBitsPerSecond` (0: no target, the floor).
	int startGroup(uint64_t timestamp, uint64_t targetBitsPerSecond, int floorQuantiser);

	// Counts one packet of the group under way.
	void count(size_t bytes) { groupBytes_ += bytes; }

	// How many times the bits halve per quantiser step on the content seen lately.
	double halvingsPerStep() const { return halvingsPerStep_; }

private:
	double bitsPerSecondSince(uint64_t timestamp) const;
	void learnSlope(double bitsPerSecond, uint64_t spanNs);
	// The finest quantiser the content allows without overspending, from what overspent lately.
	int finestAllowed(uint64_t timestamp, uint64_t targetBitsPerSecond) const;

	int quantiser_ = 0;         // 0 until the first group
	bool guessedGroup_ = false; // the group under way started at the first group's guess
	uint64_t groupStart_ = 0;
	uint64_t groupBytes_ = 0;
	double halvingsPerStep_ = 1.0 / 6;
	// The last group long enough to learn from: its quantiser (0: none yet) and bits per second.
	int measuredQuantiser_ = 0;
	double measuredBitsPerSecond_ = 0;
	// The last group that spent more than its target: quantiser (0: none), when, and the target.
	int overspentQuantiser_ = 0;
	uint64_t overspentAt_ = 0;
	uint64_t overspentTarget_ = 0;
};

} // namespace kestrel
