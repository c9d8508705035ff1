#include "delay/video/group-rate-control.h"
#include "delay/video/packet-ring.h"
#include "delay/video/worker-load.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace kestrel {
namespace {

constexpr uint64_t kSecond = 1'000'000'000;
constexpr uint64_t kFrameNs = 16'666'667; // rounded up, so 120 frames span two seconds
constexpr uint64_t kGroupNs = 2 * kSecond;
constexpr int kFloor = 18;

// Frame sizes by quantiser: by default `bytesAtFloor` at quantiser 18 and half as much every
// `stepsPerHalving` steps more; grainy game frames under x264 halve about every four to five
// steps, and fall steeply once the quantiser passes the grain's amplitude.
struct Content {
	std::function<double(int)> bytesAt;

	Content(double bytesAtFloor, double stepsPerHalving = 5)
	    : bytesAt([=](int quantiser) {
		      return bytesAtFloor * std::exp2((kFloor - quantiser) / stepsPerHalving);
	      })
	{
	}
	Content(std::function<double(int)> bytes) : bytesAt(std::move(bytes)) {}

	size_t frameBytes(int quantiser) const { return static_cast<size_t>(bytesAt(quantiser)); }
	double bitsPerSecond(int quantiser) const
	{
		return static_cast<double>(frameBytes(quantiser)) * 8 * 60;
	}
};

const Content kGrain{700'000};
const Content kPanning{86'000};

// The codec's side of the control, frame by frame at 60 fps: two-second groups, ended early
// when one overspends.
struct SimulatedEncoder {
	GroupRateControl control;
	uint64_t now = 0;
	uint64_t groupStart = 0;
	int quantiser = 0;
	std::vector<int> groupQuantisers;
	std::vector<size_t> bytes;

	void run(double seconds, const Content &content, uint64_t target)
	{
		for (int frame = 0; frame < static_cast<int>(seconds * 60); ++frame, now += kFrameNs) {
			if (quantiser == 0 || now - groupStart >= kGroupNs ||
			    control.overspending(now, target)) {
				quantiser = control.startGroup(now, target, kFloor);
				groupStart = now;
				groupQuantisers.push_back(quantiser);
			}
			bytes.push_back(content.frameBytes(quantiser));
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
	grain.run(20, kGrain, target);
	const double spent = grain.bitsPerSecondOfLast(10);
	EXPECT_LE(spent, 1.0 * target);
	EXPECT_GE(spent, 0.85 * target);
	EXPECT_EQ(grain.groupQuantisers.front(), kFloor + GroupRateControl::kFirstGroupMargin)
	    << "nothing measured yet";
	EXPECT_LE(grain.groupQuantisers.size(), 12u) << "only the first group ends early";

	SimulatedEncoder panning;
	panning.run(20, kPanning, target);
	EXPECT_EQ(panning.groupQuantisers,
		  (std::vector<int>{kFloor + GroupRateControl::kFirstGroupMargin, kFloor, kFloor, kFloor,
				    kFloor, kFloor, kFloor, kFloor, kFloor, kFloor}))
	    << "after the first group's guess straight to, and no better than, what the quality asks";

	SimulatedEncoder noTarget;
	noTarget.run(6, kGrain, 0);
	EXPECT_EQ(noTarget.groupQuantisers, std::vector<int>(3, kFloor));
}

// However steeply the content's bits fall, the control learns it from the groups it has seen and
// settles at the finest quantiser within the target: a finer one that overspent is tried again
// only after a while.
TEST(GroupRateControl, SettlesAtTheFinestFittingQuantiserOnSteepAndFlatContent)
{
	constexpr uint64_t target = 66'000'000;
	const auto settlesAtTheFinestFitting = [&](const Content &content) {
		SimulatedEncoder encoder;
		encoder.run(60, content, target);
		int finest = kFloor;
		while (content.bitsPerSecond(finest) > target)
			++finest;
		const std::vector<int> last(encoder.groupQuantisers.end() - 10,
					    encoder.groupQuantisers.end());
		EXPECT_GE(std::count(last.begin(), last.end(), finest), 9)
		    << ::testing::PrintToString(encoder.groupQuantisers);
		EXPECT_GE(*std::min_element(last.begin(), last.end()), finest - 1);
		EXPECT_LE(encoder.bitsPerSecondOfLast(20), 1.0 * target);
		return encoder.control.halvingsPerStep();
	};
	for (const double stepsPerHalving : {0.6, 1.5, 4.0, 9.0}) {
		SCOPED_TRACE(stepsPerHalving);
		// Within the target from quantiser 31 on.
		const double learnt = settlesAtTheFinestFitting(
		    {target / 480.0 * std::exp2(12.5 / stepsPerHalving), stepsPerHalving});
		EXPECT_NEAR(learnt, 1 / stepsPerHalving, 0.05 / stepsPerHalving + 0.02);
	}
	// Grainy 1080p60 as measured, Mb/s from quantiser 28 on: a cliff past 30.
	SCOPED_TRACE("cliff");
	settlesAtTheFinestFitting({[](int quantiser) {
		constexpr double measured[] = {120.7, 88.2, 55.7, 20.2, 5.4, 3.6, 2.9, 2.5, 2.1};
		const double megabits = quantiser < 28 ? 200.0 : measured[std::min(quantiser - 28, 8)];
		return megabits * 1e6 / 480;
	}});
}

TEST(GroupRateControl, AGroupEndsEarlyOnlyWhenItOverspendsForAQuarterSecond)
{
	GroupRateControl control;
	EXPECT_EQ(control.startGroup(kSecond, 8'000'000, kFloor),
		  kFloor + GroupRateControl::kFirstGroupMargin);
	control.count(1'000'000); // 8 Mb in a quarter second: 32 Mb/s
	EXPECT_FALSE(control.overspending(kSecond + GroupRateControl::kMeasuredSpanNs - 1, 8'000'000))
	    << "too soon to tell";
	EXPECT_TRUE(control.overspending(kSecond + GroupRateControl::kMeasuredSpanNs, 8'000'000));
	EXPECT_FALSE(control.overspending(kSecond + GroupRateControl::kMeasuredSpanNs, 0)) << "no target";
	EXPECT_FALSE(control.overspending(kSecond + GroupRateControl::kMeasuredSpanNs, 30'000'000))
	    << "within half again of the target";
	// Four times the target, nothing learnt yet of the content: twelve steps up at once.
	EXPECT_EQ(control.startGroup(kSecond + GroupRateControl::kMeasuredSpanNs, 8'000'000, kFloor),
		  kFloor + GroupRateControl::kFirstGroupMargin + 12);
}

TEST(GroupRateControl, ATargetChangeTakesEffectAtTheNextGroup)
{
	SimulatedEncoder encoder;
	encoder.run(10, kGrain, 66'000'000);
	// Up to the frame that starts a group.
	for (const size_t settling = encoder.groupQuantisers.size();
	     encoder.groupQuantisers.size() == settling;)
		encoder.run(1.0 / 60, kGrain, 66'000'000);
	const size_t groups = encoder.groupQuantisers.size();
	const int settled = encoder.groupQuantisers.back();
	encoder.run(0.2, kGrain, 2 * 66'000'000);
	EXPECT_EQ(encoder.groupQuantisers.size(), groups) << "the group under way keeps its quantiser";
	encoder.run(1.8, kGrain, 2 * 66'000'000);
	ASSERT_EQ(encoder.groupQuantisers.size(), groups + 1);
	EXPECT_LT(encoder.groupQuantisers.back(), settled) << "spending more at once";
	EXPECT_GE(encoder.groupQuantisers.back(), settled - 4) << "a few steps at a time";
	encoder.run(6, kGrain, 2 * 66'000'000);
	EXPECT_LE(encoder.bitsPerSecondOfLast(2), 2 * 66'000'000);
	EXPECT_GE(encoder.bitsPerSecondOfLast(2), 0.85 * 2 * 66'000'000);
}

// One second of frames at 60 fps: `encodes` encoded and `drops` dropped, `decodes` decoded.
void workASecond(WorkerLoad &load, int encodes, double encodeMs, int decodes, double decodeMs, int drops = 0)
{
	for (int i = 0; i < encodes; ++i)
		load.noteEncode(static_cast<uint64_t>(encodeMs * 1e6));
	for (int i = 0; i < decodes; ++i)
		load.noteDecode(static_cast<uint64_t>(decodeMs * 1e6));
	for (int i = 0; i < drops; ++i)
		load.noteDropped();
}

// The load counted is every arriving frame encoded and later decoded: while the delay fills the
// decoding still to come counts at its usual share of the encoding, which is learnt from the
// decoding seen; dropped frames count as arriving. A worker near falling behind asks for fewer
// bits window by window, never below its least share, holds between the marks, and asks for the
// whole rate again a step at a time; each change to and from the whole rate is reported once.
TEST(WorkerLoad, AsksForFewerBitsBeforeTheWorkerFallsBehindAndForMoreOnceItHasTime)
{
	WorkerLoad load;
	workASecond(load, 60, 9, 0, 0);
	EXPECT_FALSE(load.closeWindow(kSecond));
	EXPECT_NEAR(load.load(), 60 * 9e-3 * (1 + WorkerLoad::kDecodeShareGuess), 1e-6);
	EXPECT_EQ(load.share(), 1.0);
	int windows = 0;
	for (; load.share() == 1.0 && windows < 30; ++windows) {
		workASecond(load, 60, 9, 60, 9);
		load.closeWindow(kSecond);
	}
	EXPECT_GT(windows, 1) << "one window of dear decoding says little";
	EXPECT_LT(windows, 30) << "decoding as dear as encoding is learnt";

	WorkerLoad filling;
	workASecond(filling, 60, 11, 0, 0);
	EXPECT_TRUE(filling.closeWindow(kSecond)) << "two thirds busy now, but not once decoding starts";
	EXPECT_LT(filling.share(), 1.0);

	WorkerLoad dropping;
	workASecond(dropping, 45, 12, 45, 6, 15);
	EXPECT_TRUE(dropping.closeWindow(kSecond));
	EXPECT_NEAR(dropping.load(), 60 * 18e-3, 1e-6);
	double previous = dropping.share();
	for (int i = 0; i < 30; ++i) {
		workASecond(dropping, 45, 12, 45, 6, 15);
		EXPECT_FALSE(dropping.closeWindow(kSecond));
		EXPECT_LE(dropping.share(), previous);
		previous = dropping.share();
	}
	EXPECT_EQ(dropping.share(), WorkerLoad::kLeastShare);

	// Coarser frames: the encoding cost is averaged over windows, so the first cheaper one holds.
	workASecond(dropping, 60, 8, 60, 4);
	dropping.closeWindow(kSecond);
	EXPECT_EQ(dropping.share(), WorkerLoad::kLeastShare) << "between the marks: held";
	windows = 0;
	while (dropping.share() < 1.0 && windows < 100) {
		workASecond(dropping, 60, 7, 60, 3);
		const bool changed = dropping.closeWindow(kSecond);
		EXPECT_EQ(changed, dropping.share() == 1.0);
		++windows;
	}
	EXPECT_EQ(dropping.share(), 1.0);
	EXPECT_GT(windows, 10) << "more bits only a step at a time";
	EXPECT_FALSE(dropping.closeWindow(0)) << "an empty window tells nothing";
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
