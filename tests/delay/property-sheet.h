#pragma once

#include <obs-properties.h>

#include <string>
#include <utility>
#include <vector>

namespace kestrel::test {

// A property sheet read back as plain values, so a test can compare it with what the user
// must see.
struct PropertyRow {
	std::string name;
	std::string label;
	obs_property_type type = OBS_PROPERTY_INVALID;
	double min = 0, max = 0, step = 0;
	std::string suffix;
	std::string text;                                       // an info text's body (its label)
	std::vector<std::pair<std::string, std::string>> items; // list entries: label, value as text
};

inline std::string listValue(obs_property_t *list, size_t index)
{
	switch (obs_property_list_format(list)) {
	case OBS_COMBO_FORMAT_INT:
		return std::to_string(obs_property_list_item_int(list, index));
	case OBS_COMBO_FORMAT_STRING:
		return obs_property_list_item_string(list, index);
	default:
		return {};
	}
}

inline PropertyRow describeProperty(obs_property_t *property)
{
	PropertyRow row;
	row.name = obs_property_name(property);
	row.label = obs_property_description(property);
	row.type = obs_property_get_type(property);
	switch (row.type) {
	case OBS_PROPERTY_FLOAT:
		row.min = obs_property_float_min(property);
		row.max = obs_property_float_max(property);
		row.step = obs_property_float_step(property);
		row.suffix = obs_property_float_suffix(property) ? obs_property_float_suffix(property) : "";
		break;
	case OBS_PROPERTY_INT:
		row.min = obs_property_int_min(property);
		row.max = obs_property_int_max(property);
		row.step = obs_property_int_step(property);
		break;
	case OBS_PROPERTY_LIST:
		for (size_t i = 0; i < obs_property_list_item_count(property); ++i)
			row.items.emplace_back(obs_property_list_item_name(property, i),
					       listValue(property, i));
		break;
	case OBS_PROPERTY_TEXT:
		if (obs_property_text_type(property) == OBS_TEXT_INFO)
			row.text = row.label;
		break;
	default:
		break;
	}
	return row;
}

// Takes ownership of `props`.
inline std::vector<PropertyRow> describeProperties(obs_properties_t *props)
{
	std::vector<PropertyRow> rows;
	for (obs_property_t *property = obs_properties_first(props); property; obs_property_next(&property))
		rows.push_back(describeProperty(property));
	obs_properties_destroy(props);
	return rows;
}

} // namespace kestrel::test
