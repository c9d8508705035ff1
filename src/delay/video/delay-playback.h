#pragma once

#include "delay/video/video-delay-filter.h"

namespace kestrel {

// The Delay Playback source's own callbacks; the rest are the video delay's.
const char *delayPlaybackName(void *);
void *createDelayPlayback(obs_data_t *settings, obs_source_t *source);
void destroyDelayPlayback(void *data);
void updateDelayPlayback(void *data, obs_data_t *settings);
uint32_t delayPlaybackWidth(void *data);
uint32_t delayPlaybackHeight(void *data);
void delayPlaybackDefaults(obs_data_t *settings);
obs_properties_t *delayPlaybackProperties(void *data);

// A clone named before its source exists (a collection loading the playback source first) is
// looked up again from video ticks, at most every few seconds.
void lookUpUnresolvedClone(VideoDelayFilter &filter);

} // namespace kestrel
