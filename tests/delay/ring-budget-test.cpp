#include "delay/video/group-rate-control.h"
#include "delay/video/packet-ring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kestrel {
namespace {

constexpr uint64_t kSecond = 1'000'000'000;
constexpr uint64_t kFrameNs = 16'666'667; // rounded up, so 120 frames span two seconds
constexpr uint64_t kGroupNs = 2 * kSecond;
constexpr int kFloor = 18;

// Frames that cost `bytesAtFloor` at quantiser 18 and half as much every five steps more, as
// grainy game frames do under x264.
size_t frameBytes(double bytesAtFloor, int quantiser)
{
	return static_cast<size_t>(bytesAtFloor * std::exp2((kFloor - quantiser) / 5.0));
}

// The codec's side of the control, frame by frame at 60 fps: two-second groups, ended early
// when one overspends.
struct SimulatedEncoder {
	GroupRateControl control;
	uint64_t now = 0;
	uint64_t groupStart = 0;
	int quantiser = 0;
	std::vector<int> groupQuantisers;
	std::vector<size_t> bytes;

	void run(double seconds, double bytesAtFloor, uint64_t target)
	{
		for (int frame = 0; frame < static_cast<int>(seconds * 60); ++frame, now += kFrameNs) {
			if (quantiser == 0 || now - groupStart >= kGroupNs ||
			    control.overspending(now, target)) {
				quantiser = control.startGroup(now, target, kFloor);
				groupStart = now;
				groupQuantisers.push_back(quantiser);
			}
			bytes.push_back(frameBytes(bytesAtFloor, quantiser));
			control.count(bytes.back());
		}
	}

	double bitsPerSecondOfLast(double seconds) const
	{
		const auto frames = static_cast<size_t>(seconds * 60);
		double sum = 0;
		for (size_t i = bytes.size() - frames; i < bytes.size(); ++i)
			sum += static_cast<double>(bytes[i]);
		return sum * 8 / seconds;
	}
};

TEST(GroupRateControl, SettlesJustUnderTheTargetOnHeavyContentAndStaysAtTheFloorOnLight)
{
	constexpr uint64_t target = 66'000'000;
	SimulatedEncoder grain;
	grain.run(20, 700'000, target);
	const double spent = grain.bitsPerSecondOfLast(10);
	EXPECT_LE(spent, 1.0 * target);
	EXPECT_GE(spent, 0.85 * target);
	EXPECT_EQ(grain.groupQuantisers.front(), kFloor) << "nothing measured yet";
	EXPECT_LE(grain.groupQuantisers.size(), 12u) << "only the first group ends early";

	SimulatedEncoder panning;
	panning.run(20, 86'000, target);
	EXPECT_EQ(panning.groupQuantisers, std::vector<int>(10, kFloor)) << "no better than the quality asks";

	SimulatedEncoder noTarget;
	noTarget.run(6, 700'000, 0);
	EXPECT_EQ(noTarget.groupQuantisers, std::vector<int>(3, kFloor));
}

TEST(GroupRateControl, AGroupEndsEarlyOnlyWhenItOverspendsForAQuarterSecond)
{
	GroupRateControl control;
	EXPECT_EQ(control.startGroup(kSecond, 8'000'000, kFloor), kFloor);
	control.count(1'000'000); // 8 Mb in a quarter second: 32 Mb/s
	EXPECT_FALSE(control.overspending(kSecond + GroupRateControl::kMeasuredSpanNs - 1, 8'000'000))
	    << "too soon to tell";
	EXPECT_TRUE(control.overspending(kSecond + GroupRateControl::kMeasuredSpanNs, 8'000'000));
	EXPECT_FALSE(control.overspending(kSecond + GroupRateControl::kMeasuredSpanNs, 0)) << "no target";
	EXPECT_FALSE(control.overspending(kSecond + GroupRateControl::kMeasuredSpanNs, 30'000'000))
	    << "within half again of the target";
	// Four times the target: twelve steps up at once.
	EXPECT_EQ(control.startGroup(kSecond + GroupRateControl::kMeasuredSpanNs, 8'000'000, kFloor),
		  kFloor + 12);
}

TEST(GroupRateControl, ATargetChangeTakesEffectAtTheNextGroup)
{
	// Groups start at frames 0, 15 (the first one overspent), 135 ... 495, and next at 615.
	SimulatedEncoder encoder;
	encoder.run(10, 700'000, 66'000'000);
	const size_t groups = encoder.groupQuantisers.size();
	const int settled = encoder.groupQuantisers.back();
	encoder.run(0.2, 700'000, 2 * 66'000'000);
	EXPECT_EQ(encoder.groupQuantisers.size(), groups) << "the group under way keeps its quantiser";
	encoder.run(0.2, 700'000, 2 * 66'000'000);
	ASSERT_EQ(encoder.groupQuantisers.size(), groups + 1);
	EXPECT_EQ(encoder.groupQuantisers.back(), settled - 4) << "spending more, a few steps at a time";
	encoder.run(6, 700'000, 2 * 66'000'000);
	EXPECT_LE(encoder.bitsPerSecondOfLast(2), 2 * 66'000'000);
	EXPECT_GE(encoder.bitsPerSecondOfLast(2), 0.85 * 2 * 66'000'000);
}

void fill(PacketRing &ring, uint64_t from, uint64_t to, size_t bytesPerFrame)
{
	for (uint64_t t = from; t < to; t += kFrameNs)
		ring.push({std::vector<uint8_t>(bytesPerFrame), t, (t - from) % kGroupNs < kFrameNs});
}

TEST(PacketRing, BitRateFollowsBudgetAndDelayAndCountsWhatIsHeld)
{
	constexpr uint64_t budget = 8'000'000; // bytes
	constexpr uint64_t now = 1000 * kSecond;
	PacketRing ring;
	EXPECT_EQ(ring.bitRateWithin(budget, now, 20 * kSecond), 3'200'000u) << "64 Mb over 20 s";
	EXPECT_EQ(ring.bitRateWithin(2 * budget, now, 20 * kSecond), 6'400'000u);
	EXPECT_EQ(ring.bitRateWithin(budget, now, 40 * kSecond), 1'600'000u);

	// Steady: the last 20 s at about that rate, 6,600 bytes a frame.
	fill(ring, now - 20 * kSecond, now, 6'600);
	EXPECT_NEAR(static_cast<double>(ring.bitRateWithin(budget, now, 20 * kSecond)), 3'200'000, 40'000);

	// The delay raised to 120 s: nothing held leaves for 100 s, so only what is left of the
	// budget may be spent over that time.
	EXPECT_NEAR(static_cast<double>(ring.bitRateWithin(budget, now, 120 * kSecond)),
		    (budget - ring.bytes()) * 8.0 / 100, 100);
	fill(ring, now, now + 2 * kSecond, 100'000);
	EXPECT_EQ(ring.bitRateWithin(budget, now + 2 * kSecond, 20 * kSecond), 0u) << "already over";
}

} // namespace
} // namespace kestrel
