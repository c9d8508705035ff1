#include "delay/audio/planar-ring.h"

#include <gtest/gtest.h>

#include <numeric>

namespace kestrel {
namespace {

TEST(PlanarRing, KeepsOrderAcrossWrap)
{
	PlanarRing ring(2, 32768);
	ASSERT_TRUE(ring.setChannels(2));
	std::vector<float> left(3000), right(3000);
	float next = 0, expected = 0;
	std::vector<float> outL(3000), outR(3000);
	float *out[2] = {outL.data(), outR.data()};
	// Interleave pushes and pops of odd sizes so the head wraps.
	for (size_t round = 0; round < 40; ++round) {
		const size_t pushCount = 1000 + round * 37;
		std::iota(left.begin(), left.begin() + pushCount, next);
		for (size_t i = 0; i < pushCount; ++i)
			right[i] = -left[i];
		const float *in[2] = {left.data(), right.data()};
		ring.push(in, pushCount);
		next += pushCount;
		const size_t popCount = std::min<size_t>(ring.size(), 900 + round * 11);
		ring.pop(out, popCount);
		for (size_t i = 0; i < popCount; ++i, ++expected) {
			ASSERT_EQ(outL[i], expected);
			ASSERT_EQ(outR[i], -expected);
		}
	}
	EXPECT_EQ(ring.size(), static_cast<size_t>(next - expected));
}

TEST(PlanarRing, KeepsTheNewestSamplesThatFit)
{
	PlanarRing ring(1, 50);
	EXPECT_FALSE(ring.setChannels(2)) << "one plane only";
	ASSERT_TRUE(ring.setChannels(1));
	std::vector<float> in(100);
	std::iota(in.begin(), in.end(), 0.0f);
	const float *planes[1] = {in.data()};
	std::vector<float> out(50);
	float *outPlanes[1] = {out.data()};

	ring.push(planes, 100);
	EXPECT_EQ(ring.size(), 50u) << "a packet larger than the ring keeps its end";
	ring.trimTo(10);
	EXPECT_EQ(ring.pop(outPlanes, 50), 10u) << "no more than it holds";
	EXPECT_EQ(out.front(), 90.0f);
	EXPECT_EQ(out[9], 99.0f);

	ring.push(planes, 45);
	ring.pushSilence(10);
	EXPECT_EQ(ring.size(), 50u) << "the oldest five made room";
	EXPECT_EQ(ring.popPeak(40), 44.0f);

	PlanarRing smaller(1, 8);
	smaller.copyNewestFrom(ring);
	EXPECT_EQ(smaller.size(), 8u);
	EXPECT_EQ(smaller.popPeak(8), 0.0f) << "only the newest samples, the silence, fit";
	ring.clear();
	EXPECT_EQ(ring.size(), 0u);
}

} // namespace
} // namespace kestrel
