#pragma once

#include "delay/keys/key-lists.h"

#include <obs-properties.h>

namespace kestrel {

// Fills an integer list property (OBS_COMBO_FORMAT_INT) with key choices, in order.
void fillKeyList(obs_property_t *list, const std::vector<KeyChoice> &choices);

} // namespace kestrel
