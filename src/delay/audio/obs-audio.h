#pragma once

#include <obs.h>

#include <cstddef>
#include <cstdint>

namespace kestrel {

// OBS's mixing rate, which every filter's audio arrives at; 48000 before OBS has audio.
inline uint32_t obsOutputSampleRate()
{
	obs_audio_info info{};
	return obs_get_audio_info(&info) && info.samples_per_sec ? info.samples_per_sec : 48000;
}

// Channels of OBS's mix, which every filter's audio arrives in; stereo before OBS has audio.
inline size_t obsOutputChannels()
{
	obs_audio_info info{};
	const size_t channels = obs_get_audio_info(&info) ? get_audio_channels(info.speakers) : 0;
	return channels ? channels : 2;
}

// OBS hands filters planar 32-bit float, one plane per channel, in byte pointers.
inline float *const *floatPlanes(uint8_t *const *data)
{
	return reinterpret_cast<float *const *>(data);
}

} // namespace kestrel
