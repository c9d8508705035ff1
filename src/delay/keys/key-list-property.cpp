#include "delay/keys/key-list-property.h"

namespace kestrel {

void fillKeyList(obs_property_t *list, const std::vector<KeyChoice> &choices)
{
	for (const KeyChoice &choice : choices)
		obs_property_list_add_int(list, choice.label.c_str(), choice.code);
}

} // namespace kestrel
