#pragma once

#include "backup/backup-types.h"

#include <string>

namespace kestrel {

// How a run names itself in the lines that end it.
struct RunWords {
	const char *run;      // "Backup"
	const char *passive;  // "backed up": "Nothing could be backed up"
	const char *moved;    // "uploaded": "0 files uploaded"
	const char *noChange; // what a failed run left as it was
};

// The counts of one backup or restore run, kept in its summary: the files planned, done and
// skipped with their reasons, and the ending of a run that did nothing.
class RunTally {
public:
	explicit RunTally(BackupSummary &summary) : summary_(summary) {}

	void plan(size_t files) { summary_.total = static_cast<int32_t>(files); }
	void done() { ++summary_.done; }
	void unchanged() { ++summary_.unchanged; }
	int32_t total() const { return summary_.total; }

	// A planned file that was not stored or restored, with its line in the summary.
	void skip(std::string line);
	void skip(const std::string &path, const std::string &reason) { skip(path + ": " + reason); }
	// A file the plan could not take, which still makes the run partial.
	void leaveOut(const std::string &path, const std::string &reason);

	// A run that did nothing has failed: sets the message, logs the failure and returns true.
	bool failedWithNothingDone(const RunWords &words, const RunLog &log);

private:
	BackupSummary &summary_;
};

} // namespace kestrel
