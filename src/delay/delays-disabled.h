#pragma once

#include <atomic>

namespace kestrel {

// Process-wide switch: while set, every delay passes its input live. Only the delay switch
// writes it; filters read it once per packet or frame without a lock.
inline std::atomic<bool> delaysDisabled{false};

} // namespace kestrel
