#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace kestrel {

// Process-wide switch: while set, every delay passes its input live. Only the delay switch
// writes it; filters read it once per packet or frame without a lock.
inline std::atomic<bool> delaysDisabled{false};

// Counts dump requests. Only the delay switch raises it; a delay that sees a new count drops
// everything it captured before, so none of it is ever output.
inline std::atomic<uint64_t> delayDumps{0};

// One delay instance's view of delayDumps; used by one thread at a time (or under a lock).
class DumpWatch {
public:
	// True once for each new dump request; one lock-free read.
	bool dumpRequested()
	{
		const uint64_t dumps = delayDumps.load(std::memory_order_relaxed);
		return std::exchange(seen_, dumps) != dumps;
	}

private:
	uint64_t seen_ = delayDumps.load(std::memory_order_relaxed);
};

} // namespace kestrel
