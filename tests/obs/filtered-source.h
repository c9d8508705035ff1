#pragma once

#include "obs-harness.h"

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

} // namespace kestrel::test
