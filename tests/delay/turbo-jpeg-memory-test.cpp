#include "delay/video/turbo-jpeg.h"

#include "failing-heap.h"

#include <gtest/gtest.h>

#include <exception>
#include <random>

namespace kestrel {
namespace {

TEST(TurboJpegMemory, RunningOutOfMemoryFailsTheFrameAndLeavesNoExceptionBehind)
{
	// Noise at the finest quality needs more than the one byte per pixel the output starts with.
	constexpr int kSide = 512;
	std::vector<uint8_t> noise(kSide * kSide * 4);
	std::mt19937 random(7);
	for (uint8_t &byte : noise)
		byte = static_cast<uint8_t>(random());
	TurboJpeg jpeg;
	std::vector<uint8_t> packet;

	{
		const test::FailingHeap heap(kSide * kSide + 1);
		EXPECT_FALSE(jpeg.encode(noise.data(), kSide, kSide, 1, true, packet));
	}
	EXPECT_FALSE(std::current_exception()) << "the out-of-memory exception was left unfinished";
	EXPECT_TRUE(packet.empty());

	ASSERT_TRUE(jpeg.encode(noise.data(), kSide, kSide, 1, true, packet)) << "the codec still works";
	EXPECT_GT(packet.size(), size_t{kSide * kSide});
}

} // namespace
} // namespace kestrel
