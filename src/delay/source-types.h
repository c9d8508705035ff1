#pragma once

#include <obs-module.h>

namespace kestrel {

// Registration records of the delay sources, one per type; each lives in its filter's file.
const obs_source_info &videoDelaySourceInfo();
const obs_source_info &audioDelaySourceInfo();
const obs_source_info &duckingSourceInfo();
const obs_source_info &pushToDelayMicSourceInfo();
const obs_source_info &pushToDelayCameraSourceInfo();
const obs_source_info &delayPlaybackSourceInfo();

} // namespace kestrel
