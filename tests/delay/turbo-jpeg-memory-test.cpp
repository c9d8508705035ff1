#include "delay/video/turbo-jpeg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <new>
#include <random>

// This program's heap fails on request: every allocation of at least `failFrom` bytes throws.
namespace {
std::atomic<size_t> failFrom{SIZE_MAX};

void *allocate(size_t size)
{
	if (size >= failFrom.load(std::memory_order_relaxed))
		throw std::bad_alloc();
	if (void *p = std::malloc(size ? size : 1))
		return p;
	throw std::bad_alloc();
}
} // namespace

void *operator new(size_t size)
{
	return allocate(size);
}
void *operator new[](size_t size)
{
	return allocate(size);
}
void operator delete(void *p) noexcept
{
	std::free(p);
}
void operator delete[](void *p) noexcept
{
	std::free(p);
}
void operator delete(void *p, size_t) noexcept
{
	std::free(p);
}
void operator delete[](void *p, size_t) noexcept
{
	std::free(p);
}

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

	failFrom = kSide * kSide + 1;
	EXPECT_FALSE(jpeg.encode(noise.data(), kSide, kSide, 1, true, packet));
	failFrom = SIZE_MAX;
	EXPECT_FALSE(std::current_exception()) << "the out-of-memory exception was left unfinished";
	EXPECT_TRUE(packet.empty());

	ASSERT_TRUE(jpeg.encode(noise.data(), kSide, kSide, 1, true, packet)) << "the codec still works";
	EXPECT_GT(packet.size(), size_t{kSide * kSide});
}

} // namespace
} // namespace kestrel
