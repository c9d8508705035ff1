#pragma once

#include "delay/video/video-delay-filter.h"

namespace kestrel {

// A clone named before its source exists (a collection loading the playback source first) is
// looked up again from video ticks, at most every few seconds.
void lookUpUnresolvedClone(VideoDelayFilter &filter);

} // namespace kestrel
