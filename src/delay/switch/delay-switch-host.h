#pragma once

#include "common/status-line.h"

namespace kestrel {

// Reads the stored toggle key and docks the switch in OBS's main window as
// "wrenfield_delay_switch" with the given status line; without a main window (headless libobs)
// only the key is read.
void createDelaySwitchDock(StatusFeed status);
void removeDelaySwitchDock();
// Once OBS has restored its layout: shows the dock, docked, on the plug-in's first start.
void showDelaySwitchDockOnFirstStart();

} // namespace kestrel
