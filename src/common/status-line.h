#pragma once

#include <QString>

#include <cstdint>

namespace kestrel {

// One line of news for a widget that cannot know where it comes from (the dock shows the last
// automatic backup's outcome this way).
struct StatusLine {
	QString text;
	bool shown = false;
	bool failed = false;
};

// version() changes whenever line() may have changed, so a widget polls it cheaply.
struct StatusFeed {
	uint64_t (*version)();
	StatusLine (*line)();
};

} // namespace kestrel
