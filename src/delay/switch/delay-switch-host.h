#pragma once

#include "common/status-line.h"

namespace kestrel {

// Reads the stored toggle key and docks the switch in OBS's main window as
// "wrenfield_delay_switch" with the given status line; without a main window (headless libobs)
// only the key is read.
void createDelaySwitchDock(StatusFeed status);
void removeDelaySwitchDock();

} // namespace kestrel
