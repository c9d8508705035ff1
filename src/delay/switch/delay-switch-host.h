#pragma once

namespace kestrel {

// Reads the stored toggle key and docks the switch in OBS's main window as
// "wrenfield_delay_switch"; without a main window (headless libobs) only the key is read.
void createDelaySwitchDock();
void removeDelaySwitchDock();
// Once OBS has restored its layout: shows the dock, docked, on the plug-in's first start.
void showDelaySwitchDockOnFirstStart();

} // namespace kestrel
