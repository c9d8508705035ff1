#include "delay/keys/key-lists.h"

#include <cstdio>

namespace kestrel {

namespace {

constexpr uint32_t kVkXButton1 = 5, kVkXButton2 = 6, kVkTab = 9, kVkShift = 16, kVkControl = 17, kVkMenu = 18,
		   kVkCapital = 20, kVkSpace = 32, kVkF1 = 112;

// None, A-Z, 0-9, F1-F12: the part every list shares.
std::vector<KeyChoice> lettersDigitsAndFunctionKeys(const std::string &noneLabel)
{
	std::vector<KeyChoice> keys{{noneLabel, 0}};
	for (char letter = 'A'; letter <= 'Z'; ++letter)
		keys.push_back({std::string(1, letter), static_cast<uint32_t>(letter)});
	for (char digit = '0'; digit <= '9'; ++digit)
		keys.push_back({std::string(1, digit), static_cast<uint32_t>(digit)});
	for (uint32_t number = 1; number <= 12; ++number) {
		char label[8];
		std::snprintf(label, sizeof label, "F%u", number);
		keys.push_back({label, kVkF1 + number - 1});
	}
	return keys;
}

} // namespace

std::vector<KeyChoice> filterKeyChoices()
{
	std::vector<KeyChoice> keys = lettersDigitsAndFunctionKeys("Ninguna (usar solo el atajo de OBS)");
	keys.insert(keys.end(), {{"Botón lateral del mouse 1 (X1)", kVkXButton1},
				 {"Botón lateral del mouse 2 (X2)", kVkXButton2},
				 {"Ctrl", kVkControl},
				 {"Alt", kVkMenu},
				 {"Shift", kVkShift},
				 {"Espacio", kVkSpace}});
	return keys;
}

std::vector<KeyChoice> pushToDelayKeyChoices()
{
	std::vector<KeyChoice> keys = filterKeyChoices();
	keys.insert(keys.end(), {{"Tab", kVkTab}, {"Bloq Mayús", kVkCapital}});
	return keys;
}

std::vector<KeyChoice> delaySwitchKeyChoices(const std::string &noneLabel)
{
	std::vector<KeyChoice> keys = lettersDigitsAndFunctionKeys(noneLabel);
	keys.insert(keys.end(), {{"Mouse X1", kVkXButton1},
				 {"Mouse X2", kVkXButton2},
				 {"Ctrl", kVkControl},
				 {"Alt", kVkMenu},
				 {"Shift", kVkShift},
				 {"Space", kVkSpace},
				 {"Tab", kVkTab},
				 {"CapsLock", kVkCapital}});
	return keys;
}

} // namespace kestrel
