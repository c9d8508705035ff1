#include "failing-heap.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

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

kestrel::test::FailingHeap::FailingHeap(size_t bytes)
{
	failFrom = bytes;
}

kestrel::test::FailingHeap::~FailingHeap()
{
	failFrom = SIZE_MAX;
}

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
