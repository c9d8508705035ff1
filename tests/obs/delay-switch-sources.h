#pragma once

#include "filtered-source.h"

#include <obs.hpp>

#include <chrono>
#include <initializer_list>
#include <thread>
#include <vector>

namespace kestrel::test {

// Test inputs, each with the filters named by type id, removed when done.
class SourcesWithFilters {
public:
	void add(const char *sourceName, std::initializer_list<const char *> filterIds)
	{
		auto &source = sources_.emplace_back(std::make_unique<NamedSource>(sourceName));
		for (const char *id : filterIds) {
			OBSSourceAutoRelease filter = obs_source_create_private(id, id, nullptr);
			obs_source_filter_add(source->get(), filter);
			filters_.emplace_back(source->get(), obs_source_get_ref(filter));
		}
	}
	~SourcesWithFilters()
	{
		for (auto &[source, filter] : filters_) {
			obs_source_filter_remove(source, filter);
			obs_source_release(filter);
		}
	}

	obs_source_t *filter(size_t index) const { return filters_.at(index).second; }
	std::vector<bool> enabledStates() const
	{
		std::vector<bool> states;
		for (const auto &entry : filters_)
			states.push_back(obs_source_enabled(entry.second));
		return states;
	}

private:
	std::vector<std::unique_ptr<NamedSource>> sources_;
	std::vector<std::pair<obs_source_t *, obs_source_t *>> filters_;
};

// Lets the 200 ms debounce of the last toggle run out.
inline void waitOutDebounce()
{
	std::this_thread::sleep_for(std::chrono::milliseconds(250));
}

} // namespace kestrel::test
