#pragma once

#include <obs.h>

namespace kestrel::test {

// Shuts libobs down, if it started, once the sources it was destroying are gone: they die on
// its task thread, which shutdown would race, so a task queued behind theirs is waited for.
inline void shutDownObs()
{
	if (!obs_initialized())
		return;
	obs_queue_task(
	    OBS_TASK_DESTROY, [](void *) {}, nullptr, true);
	obs_shutdown();
}

} // namespace kestrel::test
