#include "backup/run-tally.h"

namespace kestrel {

void RunTally::skip(std::string line)
{
	++summary_.skipped;
	summary_.skippedFiles.push_back(std::move(line));
}

void RunTally::leaveOut(const std::string &path, const std::string &reason)
{
	++summary_.total;
	skip(path, reason);
}

bool RunTally::failedWithNothingDone(const RunWords &words, const RunLog &log)
{
	if (summary_.done != 0)
		return false;
	summary_.message = std::string("Nothing could be ") + words.passive + ": all " +
			   std::to_string(summary_.total) + " file(s) failed. " + words.noChange;
	log(std::string(words.run) + " failed. 0 files " + words.moved + ", " +
	    std::to_string(summary_.skipped) + " skipped.");
	return true;
}

} // namespace kestrel
