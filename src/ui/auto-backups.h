#pragma once

#include "backup/auto-backup-state.h"
#include "backup/backup-environment.h"
#include "backup/backup-types.h"
#include "ui/auto-backup-scheduler.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

namespace kestrel {

class BackupManager;
class BackupWorker;

// Makes the backups the user asked for on OBS's events: each run is an ordinary backup run by a
// BackupWorker on a thread of its own, with the settings of that moment. Lives on the interface
// thread; nothing here waits for a run except finish().
class AutoBackups : public QObject {
	Q_OBJECT

public:
	// `statePath`: where the outcome and the unfinished-exit mark are kept between sessions.
	AutoBackups(BackupEnvironment environment, std::string statePath,
		    AutoBackupScheduler::Clock clock = std::chrono::steady_clock::now);
	~AutoBackups() override;

	AutoBackupScheduler::Decision trigger(AutoTrigger trigger);
	// OBS has started on `localDate` ("yyyy-mm-dd"): completes a backup that OBS's exit cut
	// short, or makes the daily one when it is due.
	AutoBackupScheduler::Decision atStart(const std::string &localDate);

	// For OBS's exit: waits for a run in progress until `waitLimit` after the exit event (or
	// after now when none came), then asks it to stop before its next file and waits up to
	// `stopLimit` more. A run that had to stop is made again at the next start. Returns whether
	// no run is left; when one still goes on, this object must not be destroyed (the run ends
	// with the process).
	bool finish(std::chrono::milliseconds waitLimit, std::chrono::milliseconds stopLimit);

	bool running() const { return scheduler_.running(); }

signals:
	// On the interface thread, after a run's outcome was published.
	void runEnded();

private:
	AutoBackupScheduler::Decision decide(AutoTrigger trigger, bool atStart);
	void start(AutoTrigger trigger, bool atStart);
	void record(AutoTrigger trigger, bool atStart, const BackupSummary &summary, bool ok,
		    const QString &error);
	void markUnfinished();
	void releaseRun();

	BackupEnvironment environment_;
	std::string statePath_;
	AutoBackupScheduler::Clock clock_;
	AutoBackupScheduler scheduler_;
	std::unique_ptr<BackupManager> manager_; // the run's, or the one a trigger is checked with
	QThread *thread_ = nullptr;
	std::atomic<bool> stop_{false};
	std::optional<std::chrono::steady_clock::time_point> exitAt_;
	std::mutex stateMutex_; // the state file, written by runs and read at start
	std::string startDate_; // local date of this session's start, for the daily mark
};

} // namespace kestrel
