#pragma once

#include <cstdint>

namespace kestrel {

// How busy the worker is, and the share of the memory budget's bit rate it can afford to ask
// for: dearer frames take longer to encode and decode, so a worker close to falling behind asks
// for fewer bits before it has to drop frames, and for more again once it has time to spare.
// The load counted is that of every arriving frame encoded now and decoded one delay later, at
// the encoding cost of the last windows and decoding at its usual share of that: the decoding
// seen now is of frames encoded one delay ago (and none while the delay fills), so on its own it
// would tell too late what the quantiser chosen now will cost.
class WorkerLoad {
public:
	// Above this share of the time, the next windows ask for fewer bits; below the relaxed share,
	// for more again.
	static constexpr double kBusiest = 0.97;
	static constexpr double kRelaxed = 0.88;
	static constexpr double kLeastShare = 1.0 / 16;
	// Decoding's cost as a share of encoding's until measured (software H.264 at 1080p: 0.4 to
	// 0.5), and the bounds of what is measured.
	static constexpr double kDecodeShareGuess = 0.5;
	static constexpr double kLeastDecodeShare = 0.3;
	static constexpr double kMostDecodeShare = 1.0;

	void noteEncode(uint64_t ns);
	void noteDecode(uint64_t ns);
	void noteDropped() { ++windowArrivals_; }

	// Ends a window of `elapsedNs` wall-clock time; true when the share changed from or back to
	// the whole rate.
	bool closeWindow(uint64_t elapsedNs);

	// Share of the budget's bit rate to ask for, 1/16 .. 1.
	double share() const { return share_; }
	// Share of the time that encoding and decoding every frame arriving in the last window takes.
	double load() const { return load_; }

private:
	double encodeNs_ = 0; // per frame, averaged over the last windows; 0 until measured
	double decodeShare_ = kDecodeShareGuess;
	uint64_t windowArrivals_ = 0;
	uint64_t windowEncodeNs_ = 0, windowEncodes_ = 0;
	uint64_t windowDecodeNs_ = 0, windowDecodes_ = 0;
	double share_ = 1;
	double load_ = 0;
};

} // namespace kestrel
