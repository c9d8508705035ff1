#pragma once

#include <array>
#include <cstring>

namespace kestrel {

// Every delay type the plug-in registers. The delay switch turns filters of these types on and
// off; the Delay Playback source is an input, never found among filters, and follows
// delaysDisabled by itself.
inline constexpr std::array<const char *, 6> delayTypeIds{
    "orv_screen_delay_video", "orv_screen_delay_audio",  "orv_screen_delay_duck",
    "orv_push_to_delay",      "orv_push_to_delay_video", "orv_delay_playback",
};

inline bool isDelayTypeId(const char *id)
{
	if (!id)
		return false;
	for (const char *delayId : delayTypeIds)
		if (std::strcmp(id, delayId) == 0)
			return true;
	return false;
}

} // namespace kestrel
