#pragma once

#include "backup/auto-backup-settings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kestrel {

enum class AutoTrigger { StreamEnded, RecordingEnded, Exit, DailyStart };

// Decides whether an event starts an automatic backup. One run at a time; events close together
// give one run; a backup or restore already holding the folder's lock defers the run to the next
// event. Time comes from `clock` and the lock from `tryLock`, so it runs without OBS.
class AutoBackupScheduler {
public:
	using Clock = std::function<std::chrono::steady_clock::time_point()>;
	// Takes the backup's run lock without waiting; null while another run holds it.
	using TryLock = std::function<std::shared_ptr<void>()>;

	enum class Decision { Off, Merged, Deferred, Start };

	// Events within this time of a run's start belong to that run.
	static constexpr std::chrono::seconds kMergeWindow{5};

	AutoBackupScheduler(Clock clock, TryLock tryLock);

	// After Start, the caller runs the backup and reports its end with runEnded().
	Decision onTrigger(AutoTrigger trigger, const AutoBackupSettings &settings);
	void runEnded();
	bool running() const { return running_; }

private:
	Clock clock_;
	TryLock tryLock_;
	bool running_ = false;
	std::optional<std::chrono::steady_clock::time_point> lastStart_;
};

// Whether the settings ask for a backup on this event.
bool triggerEnabled(AutoTrigger trigger, const AutoBackupSettings &settings);

// "stream", "recording", "exit", "daily": how the outcome names its cause.
const char *triggerName(AutoTrigger trigger);

} // namespace kestrel
