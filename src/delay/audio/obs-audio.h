#pragma once

#include <obs.h>

#include <cstdint>

namespace kestrel {

// OBS's mixing rate, which every filter's audio arrives at; 48000 before OBS has audio.
inline uint32_t obsOutputSampleRate()
{
	obs_audio_info info{};
	return obs_get_audio_info(&info) && info.samples_per_sec ? info.samples_per_sec : 48000;
}

// OBS hands filters planar 32-bit float, one plane per channel, in byte pointers.
inline float *const *floatPlanes(uint8_t *const *data)
{
	return reinterpret_cast<float *const *>(data);
}

} // namespace kestrel
