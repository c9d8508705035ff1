#pragma once

#include "backup/backup-types.h"

#include <cstdio>

namespace kestrel::cli {

// Where a run's lines and progress go: log lines to `logStream`, and a one-line progress bar
// (current file, index/total) redrawn on standard error when that is a terminal.
class Console {
public:
	Console(std::FILE *logStream, bool quiet, bool progressBar);
	~Console();

	RunLog logger();
	RunProgress progress();

	// Removes the bar so an ordinary line can follow.
	void clearBar();

private:
	void drawBar(const std::string &file, int32_t percent, int32_t index, int32_t total);

	std::FILE *logStream_;
	bool quiet_;
	bool progressBar_;
	bool barShown_ = false;
};

} // namespace kestrel::cli
