#pragma once

#include <obs.h>

namespace kestrel {

// One OBS hotkey of a delay instance, unregistered when the instance goes. OBS makes every
// filter a private source and refuses hotkeys on those, so a filter's hotkey goes on the source
// the filter sits on, which OBS lists and saves the binding with.
class SourceHotkey {
public:
	SourceHotkey(const char *name, const char *description, obs_hotkey_func onChange, void *data)
	    : name_(name), description_(description), onChange_(onChange), data_(data)
	{
	}
	~SourceHotkey() { unregister(); }
	SourceHotkey(const SourceHotkey &) = delete;
	SourceHotkey &operator=(const SourceHotkey &) = delete;

	// For an input, which may own its hotkey.
	void registerOn(obs_source_t *owner);
	// For a filter: OBS names its parent only once the filter is added, so this is called from
	// video ticks and registers at the first one with a parent.
	void registerOnParentOf(obs_source_t *filter);
	void unregister();

	obs_hotkey_id id() const { return id_; }

private:
	const char *name_;
	const char *description_;
	obs_hotkey_func onChange_;
	void *data_;
	obs_hotkey_id id_ = OBS_INVALID_HOTKEY_ID;
	const obs_source_t *triedOn_ = nullptr; // a parent that refused is not asked every frame
};

} // namespace kestrel
