#include "delay/video/group-rate-control.h"

#include <algorithm>
#include <cmath>

namespace kestrel {

namespace {

// Spending too much is corrected at once; spending too little a few steps at a time, so a
// short easy stretch does not send the next hard one far over.
constexpr int kLargestStepUp = 12;
constexpr int kLargestStepDown = 4;
// Beyond these, a slope measured across a change of scene says more about the scenes than about
// the quantiser.
constexpr double kFlattestSlope = 1.0 / 12;
constexpr double kSteepestSlope = 2.0;

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

void GroupRateControl::learnSlope(double bitsPerSecond, uint64_t spanNs)
{
	if (spanNs < kSlopeSpanNs)
		return;
	if (measuredQuantiser_ > 0 && measuredQuantiser_ != quantiser_) {
		const double slope = std::log2(measuredBitsPerSecond_ / bitsPerSecond) /
				     static_cast<double>(quantiser_ - measuredQuantiser_);
		// Bits that rose with the quantiser mean the content changed: nothing learnt.
		if (slope > 0)
			halvingsPerStep_ = std::clamp(slope, kFlattestSlope, kSteepestSlope);
	}
	measuredQuantiser_ = quantiser_;
	measuredBitsPerSecond_ = bitsPerSecond;
}

int GroupRateControl::finestAllowed(uint64_t timestamp, uint64_t targetBitsPerSecond) const
{
	const bool remembered = overspentQuantiser_ > 0 && timestamp >= overspentAt_ &&
				timestamp - overspentAt_ < kOverspentMemoryNs &&
				targetBitsPerSecond <= overspentTarget_;
	return remembered ? overspentQuantiser_ + 1 : 0;
}

int GroupRateControl::startGroup(uint64_t timestamp, uint64_t targetBitsPerSecond, int floorQuantiser)
{
	int quantiser = quantiser_;
	if (targetBitsPerSecond == 0) {
		quantiser = floorQuantiser;
	} else if (quantiser_ == 0) {
		quantiser = floorQuantiser + kFirstGroupMargin;
	} else if (timestamp >= groupStart_ + kMeasuredSpanNs) {
		const double spent = std::max(1.0, bitsPerSecondSince(timestamp));
		learnSlope(spent, timestamp - groupStart_);
		if (spent > static_cast<double>(targetBitsPerSecond)) {
			overspentQuantiser_ = quantiser_;
			overspentAt_ = timestamp;
			overspentTarget_ = targetBitsPerSecond;
		}
		const double steps =
		    std::log2(spent / static_cast<double>(targetBitsPerSecond)) / halvingsPerStep_;
		// Rounded to the nearest: the slope is a guess between two quantisers, and a guess that
		// overspends is caught by the memory of what overspent.
		// After the first group, started coarse on no evidence, all the way down at once: a
		// light picture would otherwise stay coarse for its first seconds.
		const int largestStepDown = guessedGroup_ ? kMaxQuantiser : kLargestStepDown;
		quantiser +=
		    std::clamp(static_cast<int>(std::lround(steps)), -largestStepDown, kLargestStepUp);
		quantiser = std::max(quantiser, finestAllowed(timestamp, targetBitsPerSecond));
	}
	guessedGroup_ = targetBitsPerSecond > 0 && quantiser_ == 0;
	quantiser_ = std::clamp(quantiser, floorQuantiser, kMaxQuantiser);
	groupStart_ = timestamp;
	groupBytes_ = 0;
	return quantiser_;
}

} // namespace kestrel
