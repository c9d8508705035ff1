#pragma once

#include "delay/delay-time.h"

#include <obs-properties.h>

namespace kestrel {

// The seconds slider every delay offers, so all of them cover the same range in the same steps.
inline obs_property_t *addDelaySlider(obs_properties_t *props, const char *key, const char *label)
{
	obs_property_t *slider =
	    obs_properties_add_float_slider(props, key, label, 0.0, kMaxDelaySeconds, 0.1);
	obs_property_float_set_suffix(slider, " s");
	return slider;
}

} // namespace kestrel
