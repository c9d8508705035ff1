#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

// How the last automatic backup ended.
struct AutoBackupOutcome {
	std::string finishedAt; // UTC, "2026-12-09T19:30:00Z"
	std::string trigger;    // "stream", "recording", "exit", "daily"
	bool ok = false;
	bool unchanged = false; // nothing had changed, so no new backup was made
	int32_t copied = 0;
	int32_t skipped = 0;
	std::string error; // why it failed
};

// What automatic backups remember between OBS sessions ("auto-backup.json" beside the settings).
struct AutoBackupState {
	std::optional<AutoBackupOutcome> lastRun;
	std::string lastDailyDate;   // local "yyyy-mm-dd" of the last daily backup
	bool exitUnfinished = false; // a backup at OBS's exit did not finish; the next start makes it
};

// Reads the state; a missing or damaged file reads as far as it goes.
AutoBackupState readAutoBackupState(const std::string &text);
std::string autoBackupStateText(const AutoBackupState &state);

// From and to the file; an empty result means success.
AutoBackupState loadAutoBackupState(const std::string &path);
std::string storeAutoBackupState(const std::string &path, const AutoBackupState &state);

} // namespace kestrel
