#include "ui/auto-backup-scheduler.h"

namespace kestrel {

AutoBackupScheduler::AutoBackupScheduler(Clock clock, TryLock tryLock)
    : clock_(std::move(clock)), tryLock_(std::move(tryLock))
{
}

AutoBackupScheduler::Decision AutoBackupScheduler::onTrigger(AutoTrigger trigger,
							     const AutoBackupSettings &settings)
{
	if (!triggerEnabled(trigger, settings))
		return Decision::Off;
	const auto now = clock_();
	if (running_ || (lastStart_ && now - *lastStart_ < kMergeWindow))
		return Decision::Merged;
	// Only a probe: the run takes the lock itself, and a run of the dialog or the command line
	// that starts in between makes this one wait for it as any run would.
	if (!tryLock_())
		return Decision::Deferred;
	running_ = true;
	lastStart_ = now;
	return Decision::Start;
}

void AutoBackupScheduler::runEnded()
{
	running_ = false;
}

bool triggerEnabled(AutoTrigger trigger, const AutoBackupSettings &settings)
{
	switch (trigger) {
	case AutoTrigger::StreamEnded:
		return settings.afterStream;
	case AutoTrigger::RecordingEnded:
		return settings.afterRecording;
	case AutoTrigger::Exit:
		return settings.onExit;
	case AutoTrigger::DailyStart:
		return settings.dailyAtStart;
	}
	return false;
}

const char *triggerName(AutoTrigger trigger)
{
	switch (trigger) {
	case AutoTrigger::StreamEnded:
		return "stream";
	case AutoTrigger::RecordingEnded:
		return "recording";
	case AutoTrigger::Exit:
		return "exit";
	case AutoTrigger::DailyStart:
		return "daily";
	}
	return "";
}

} // namespace kestrel
