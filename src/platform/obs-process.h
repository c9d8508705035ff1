#pragma once

namespace kestrel::platform {

// True when an OBS Studio process of this user is running (it rewrites its ini files when it
// exits, so a restore must not run beside it).
bool obsIsRunning();

} // namespace kestrel::platform
