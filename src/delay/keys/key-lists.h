#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// One entry of a key list: what the user reads and the Windows virtual-key code that is stored
// and polled (0: no key, only the OBS hotkey acts).
struct KeyChoice {
	std::string label;
	uint32_t code;
};

// Keys of the camera push-to-delay filter and the Delay Playback source.
std::vector<KeyChoice> filterKeyChoices();
// Keys of the push-to-delay microphone: the filter keys plus Tab and Caps Lock, which games
// often use for push-to-talk.
std::vector<KeyChoice> pushToDelayKeyChoices();
// Keys of the delay switch in the backup dialog; `noneLabel` is the dialog's own text for the
// first entry in the current language.
std::vector<KeyChoice> delaySwitchKeyChoices(const std::string &noneLabel);

} // namespace kestrel
