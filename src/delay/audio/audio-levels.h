#pragma once

#include <cmath>
#include <cstdint>

namespace kestrel {

// Level arithmetic shared by the audio filters, in single precision like the samples.

inline float decibelsToGain(double decibels)
{
	return std::pow(10.0f, static_cast<float>(decibels) / 20.0f);
}

// Coefficient of a one-pole smoother that covers about 63 % of a step in `seconds`; 1 (an
// instant jump) for no time at all.
inline float smoothingCoefficient(uint32_t sampleRate, float seconds)
{
	if (!(seconds > 0.0f))
		return 1.0f;
	return 1.0f - std::exp(-1.0f / (static_cast<float>(sampleRate) * seconds));
}

// One step of a smoother that moves with `falling` when above the target, `rising` otherwise.
inline void smoothTowards(float &value, float target, float falling, float rising)
{
	value += (target - value) * (value > target ? falling : rising);
}

} // namespace kestrel
