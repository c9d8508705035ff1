#include "delay/keys/source-hotkey.h"

namespace kestrel {

void SourceHotkey::registerOn(obs_source_t *owner)
{
	unregister();
	triedOn_ = owner;
	id_ = obs_hotkey_register_source(owner, name_, description_, onChange_, data_);
}

void SourceHotkey::registerOnParentOf(obs_source_t *filter)
{
	if (id_ != OBS_INVALID_HOTKEY_ID)
		return;
	obs_source_t *parent = obs_filter_get_parent(filter);
	if (parent && parent != triedOn_)
		registerOn(parent);
}

void SourceHotkey::unregister()
{
	if (id_ != OBS_INVALID_HOTKEY_ID)
		obs_hotkey_unregister(id_);
	id_ = OBS_INVALID_HOTKEY_ID;
}

} // namespace kestrel
