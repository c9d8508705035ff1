#pragma once

#include <cstdint>

namespace kestrel::bench {

// Number of heap allocations made through operator new since the program started.
uint64_t allocationCount();

} // namespace kestrel::bench
