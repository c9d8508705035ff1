#include "delay/video/group-rate-control.h"

#include <algorithm>
#include <cmath>

namespace kestrel {

namespace {

// Spending too much is corrected at once; spending too little a few steps at a time, so a
// short easy stretch does not send the next hard one far over.
constexpr int kLargestStepUp = 12;
constexpr int kLargestStepDown = 4;
constexpr double kStepsPerDoubling = 6.0;

} // namespace

double GroupRateControl::bitsPerSecondSince(uint64_t timestamp) const
{
	return static_cast<double>(groupBytes_) * 8e9 / static_cast<double>(timestamp - groupStart_);
}

bool GroupRateControl::overspending(uint64_t captureTimestamp, uint64_t targetBitsPerSecond) const
{
	return targetBitsPerSecond > 0 && quantiser_ > 0 && quantiser_ < kMaxQuantiser &&
	       captureTimestamp >= groupStart_ + kMeasuredSpanNs &&
	       bitsPerSecondSince(captureTimestamp) >
		   kOverspendFactor * static_cast<double>(targetBitsPerSecond);
}

int GroupRateControl::startGroup(uint64_t timestamp, uint64_t targetBitsPerSecond, int floorQuantiser)
{
	int quantiser = quantiser_ > 0 ? quantiser_ : floorQuantiser;
	if (targetBitsPerSecond == 0) {
		quantiser = floorQuantiser;
	} else if (quantiser_ > 0 && timestamp >= groupStart_ + kMeasuredSpanNs) {
		const double spent = std::max(1.0, bitsPerSecondSince(timestamp));
		const double steps =
		    kStepsPerDoubling * std::log2(spent / static_cast<double>(targetBitsPerSecond));
		// Rounded up: the finest quantiser expected to stay within the target, so a group that
		// only just fitted is not followed by one that does not.
		quantiser +=
		    std::clamp(static_cast<int>(std::ceil(steps)), -kLargestStepDown, kLargestStepUp);
	}
	quantiser_ = std::clamp(quantiser, floorQuantiser, kMaxQuantiser);
	groupStart_ = timestamp;
	groupBytes_ = 0;
	return quantiser_;
}

} // namespace kestrel
