#pragma once

#include <cstdint>

namespace kestrel {

// Largest width or height the frame codec accepts or produces: well above any canvas OBS
// renders, and it keeps a damaged packet header from asking for gigabytes.
inline constexpr uint32_t kMaxFrameSide = 16384;

} // namespace kestrel
