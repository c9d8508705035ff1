#include "delay/video/worker-load.h"

#include <algorithm>

namespace kestrel {

namespace {

// Per window: down fast enough to act by the next group, up slowly enough that the dearer frames
// asked for do not overshoot.
constexpr double kStepDown = 0.8;
constexpr double kStepUp = 1.1;
// Weight of the newest window in the encoding cost per frame, and in decoding's share of it:
// slow, since decoding follows the encoding of one delay ago.
constexpr double kNewestEncodeWeight = 0.5;
constexpr double kNewestDecodeWeight = 0.1;

double perItem(uint64_t ns, uint64_t count)
{
	return static_cast<double>(ns) / static_cast<double>(count);
}

} // namespace

void WorkerLoad::noteEncode(uint64_t ns)
{
	++windowArrivals_;
	windowEncodeNs_ += ns;
	++windowEncodes_;
}

void WorkerLoad::noteDecode(uint64_t ns)
{
	windowDecodeNs_ += ns;
	++windowDecodes_;
}

bool WorkerLoad::closeWindow(uint64_t elapsedNs)
{
	if (elapsedNs == 0)
		return false;
	if (windowEncodes_ > 0) {
		const double newest = perItem(windowEncodeNs_, windowEncodes_);
		encodeNs_ = encodeNs_ == 0 ? newest : encodeNs_ + kNewestEncodeWeight * (newest - encodeNs_);
	}
	if (windowDecodes_ > 0 && encodeNs_ > 0) {
		const double newest = std::clamp(perItem(windowDecodeNs_, windowDecodes_) / encodeNs_,
						 kLeastDecodeShare, kMostDecodeShare);
		decodeShare_ += kNewestDecodeWeight * (newest - decodeShare_);
	}
	load_ = encodeNs_ * (1 + decodeShare_) * static_cast<double>(windowArrivals_) /
		static_cast<double>(elapsedNs);
	windowArrivals_ = windowEncodeNs_ = windowEncodes_ = windowDecodeNs_ = windowDecodes_ = 0;
	const bool wasWhole = share_ >= 1;
	if (load_ > kBusiest)
		share_ = std::max(kLeastShare, share_ * kStepDown);
	else if (load_ < kRelaxed)
		share_ = std::min(1.0, share_ * kStepUp);
	return wasWhole != (share_ >= 1);
}

} // namespace kestrel
