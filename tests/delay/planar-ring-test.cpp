#include "delay/audio/planar-ring.h"

#include <gtest/gtest.h>

#include <numeric>

namespace kestrel {
namespace {

TEST(PlanarRing, KeepsOrderAcrossWrapAndGrowth)
{
	PlanarRing ring;
	ring.setChannels(2);
	std::vector<float> left(3000), right(3000);
	float next = 0, expected = 0;
	std::vector<float> outL(3000), outR(3000);
	float *out[2] = {outL.data(), outR.data()};
	// Interleave pushes and pops of odd sizes so the head wraps, then grow while wrapped.
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

TEST(PlanarRing, TrimKeepsNewestAndClearReleases)
{
	PlanarRing ring;
	ring.setChannels(1);
	std::vector<float> in(100);
	std::iota(in.begin(), in.end(), 0.0f);
	const float *planes[1] = {in.data()};
	ring.push(planes, 100);
	ring.trimTo(10);
	std::vector<float> out(10);
	float *outPlanes[1] = {out.data()};
	ring.pop(outPlanes, 10);
	EXPECT_EQ(out.front(), 90.0f);
	EXPECT_EQ(out.back(), 99.0f);

	ring.push(planes, 100);
	ring.clear(false);
	EXPECT_EQ(ring.size(), 0u);
	EXPECT_GT(ring.capacity(), 0u);
	ring.clear(true);
	EXPECT_EQ(ring.capacity(), 0u);
}

} // namespace
} // namespace kestrel
