#pragma once

#include "obs-harness.h"

#include <string>
#include <vector>

namespace kestrel::test {

// A test input (audio unless told otherwise) with one filter, and the only thing on output
// channel 0, so OBS's final mix and picture are that source's after the filter. Private unless
// named, as sources that own hotkeys must be.
class FilteredSource {
public:
	FilteredSource(const char *filterId, obs_data_t *settings, const char *name = nullptr,
		       const char *sourceId = ObsHarness::testAudioSourceId())
	    : source_(name ? obs_source_create(sourceId, name, nullptr, nullptr)
			   : obs_source_create_private(sourceId, "program", nullptr)),
	      filter_(obs_source_create_private(filterId, "filter", settings))
	{
		obs_set_output_source(0, source_);
	}
	~FilteredSource()
	{
		obs_set_output_source(0, nullptr);
		obs_source_filter_remove(source_, filter_);
		obs_source_remove(source_);
	}
	FilteredSource(const FilteredSource &) = delete;
	FilteredSource &operator=(const FilteredSource &) = delete;

	// Puts the filter on the source; until then the source plays unfiltered.
	void attachFilter() { obs_source_filter_add(source_, filter_); }

	obs_source_t *source() const { return source_; }
	obs_source_t *filter() const { return filter_; }

private:
	OBSSourceAutoRelease source_;
	OBSSourceAutoRelease filter_;
};

// An input under a name of its own (a test audio input unless told otherwise), so OBS finds it
// by name; removed when done.
class NamedSource {
public:
	explicit NamedSource(const char *name, const char *id = ObsHarness::testAudioSourceId())
	    : source_(obs_source_create(id, name, nullptr, nullptr))
	{
	}
	~NamedSource() { obs_source_remove(source_); }
	NamedSource(const NamedSource &) = delete;
	NamedSource &operator=(const NamedSource &) = delete;

	obs_source_t *get() const { return source_; }

private:
	OBSSourceAutoRelease source_;
};

// The hotkeys named `name` that are registered on `source`.
inline std::vector<obs_hotkey_t *> hotkeysOf(obs_source_t *source, const std::string &name)
{
	struct Search {
		obs_source_t *source;
		const std::string &name;
		std::vector<obs_hotkey_t *> found;
	} search{source, name, {}};
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id, obs_hotkey_t *hotkey) {
		    auto *search = static_cast<Search *>(data);
		    if (obs_hotkey_get_registerer_type(hotkey) == OBS_HOTKEY_REGISTERER_SOURCE &&
			obs_weak_source_references_source(
			    static_cast<obs_weak_source_t *>(obs_hotkey_get_registerer(hotkey)),
			    search->source) &&
			search->name == obs_hotkey_get_name(hotkey))
			    search->found.push_back(hotkey);
		    return true;
	    },
	    &search);
	return search.found;
}

// The frontend hotkeys named `name`.
inline std::vector<obs_hotkey_id> frontendHotkeys(const std::string &name)
{
	struct Search {
		const std::string &name;
		std::vector<obs_hotkey_id> found;
	} search{name, {}};
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id id, obs_hotkey_t *hotkey) {
		    auto *search = static_cast<Search *>(data);
		    if (search->name == obs_hotkey_get_name(hotkey) &&
			obs_hotkey_get_registerer_type(hotkey) == OBS_HOTKEY_REGISTERER_FRONTEND)
			    search->found.push_back(id);
		    return true;
	    },
	    &search);
	return search.found;
}

} // namespace kestrel::test
