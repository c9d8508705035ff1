#include "module/source-registry.h"

#include "delay/source-types.h"

#include <obs-module.h>

namespace kestrel {

namespace {

using SourceInfoGetter = const obs_source_info &(*)();

// Scene collections refer to these types by id, so the set of ids never shrinks; the order
// only fixes how they are listed in OBS.
constexpr SourceInfoGetter kDelaySourceTypes[] = {
    videoDelaySourceInfo,     audioDelaySourceInfo,        duckingSourceInfo,
    pushToDelayMicSourceInfo, pushToDelayCameraSourceInfo, delayPlaybackSourceInfo,
};

} // namespace

void registerDelaySources()
{
	for (SourceInfoGetter info : kDelaySourceTypes)
		obs_register_source_s(&info(), sizeof(obs_source_info));
}

} // namespace kestrel
