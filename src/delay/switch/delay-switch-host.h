#pragma once

namespace kestrel {

// Reads the stored toggle key and docks the switch in OBS's main window as
// "wrenfield_delay_switch"; without a main window (headless libobs) only the key is read.
void createDelaySwitchDock();
void removeDelaySwitchDock();

} // namespace kestrel
