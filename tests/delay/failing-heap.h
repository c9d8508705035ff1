#pragma once

#include <cstddef>

namespace kestrel::test {

// The test program's heap (operator new) throws std::bad_alloc for every allocation of at least
// `bytes` while one of these lives.
class FailingHeap {
public:
	explicit FailingHeap(size_t bytes = 0);
	~FailingHeap();
	FailingHeap(const FailingHeap &) = delete;
	FailingHeap &operator=(const FailingHeap &) = delete;
};

} // namespace kestrel::test
