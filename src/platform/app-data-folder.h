#pragma once

#include <string>

namespace kestrel::platform {

// The per-user folder where applications keep their settings (Windows: roaming AppData;
// elsewhere: $XDG_CONFIG_HOME or ~/.config, where OBS keeps "obs-studio"), UTF-8; empty when
// the system cannot tell.
std::string roamingAppDataFolder();

} // namespace kestrel::platform
