#pragma once

#include <cmath>
#include <cstdint>

namespace kestrel {

inline constexpr double kDefaultDelaySeconds = 20.0;
inline constexpr double kMaxDelaySeconds = 120.0;

// Settings can be written by scripts or hand-edited collections: keep any stored value inside
// the slider's range so it can neither wrap to a huge unsigned count nor exhaust memory.
inline double clampDelaySeconds(double seconds)
{
	if (std::isnan(seconds))
		return kDefaultDelaySeconds;
	return std::fmin(std::fmax(seconds, 0.0), kMaxDelaySeconds);
}

inline uint64_t delayMilliseconds(double seconds)
{
	return static_cast<uint64_t>(clampDelaySeconds(seconds) * 1000.0);
}

// Integer arithmetic so every filter agrees on the same sample count for the same setting.
inline uint64_t delayFramesFor(uint32_t sampleRate, uint64_t delayMs)
{
	return static_cast<uint64_t>(sampleRate) * delayMs / 1000;
}

} // namespace kestrel
