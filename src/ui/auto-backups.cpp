#include "ui/auto-backups.h"

#include "backup/backup-manager.h"
#include "backup/manifest.h"
#include "module/log.h"
#include "platform/module-path.h"
#include "ui/auto-backup-status.h"
#include "ui/backup-worker.h"

#include <QThread>

namespace kestrel {

namespace {

int64_t milliseconds(std::chrono::steady_clock::duration duration)
{
	return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

} // namespace

AutoBackups::AutoBackups(BackupEnvironment environment, std::string statePath,
			 AutoBackupScheduler::Clock clock)
    : environment_(std::move(environment)), statePath_(std::move(statePath)), clock_(clock),
      scheduler_(std::move(clock), [this]() -> std::shared_ptr<void> {
	      // A folder that is not there is not busy: the run reports it as its failure.
	      ICloudProvider &provider = manager_->provider();
	      if (!provider.isAuthenticated())
		      return std::make_shared<bool>(true);
	      return provider.holdBackup(std::chrono::milliseconds(0));
      })
{
	if (const auto last = loadAutoBackupState(statePath_).lastRun)
		publishAutoBackupOutcome(*last);
}

AutoBackups::~AutoBackups()
{
	// A run reports to this object: it stops before its next file and is waited for.
	if (thread_) {
		stop_.store(true);
		releaseRun();
	}
}

AutoBackupScheduler::Decision AutoBackups::trigger(AutoTrigger trigger)
{
	if (trigger == AutoTrigger::Exit)
		exitAt_ = clock_();
	return decide(trigger, false);
}

AutoBackupScheduler::Decision AutoBackups::atStart(const std::string &localDate)
{
	startDate_ = localDate;
	AutoBackupState state;
	{
		const std::lock_guard lock(stateMutex_);
		state = loadAutoBackupState(statePath_);
	}
	if (state.exitUnfinished)
		return decide(AutoTrigger::Exit, true);
	if (state.lastDailyDate != localDate)
		return decide(AutoTrigger::DailyStart, true);
	return AutoBackupScheduler::Decision::Off;
}

AutoBackupScheduler::Decision AutoBackups::decide(AutoTrigger trigger, bool atStart)
{
	// The settings of this moment; a run in progress keeps the manager it started with.
	if (!scheduler_.running()) {
		manager_ = std::make_unique<BackupManager>(environment_);
		manager_->loadSettings();
		manager_->setProvider(ProviderKind::LocalFolder);
	}
	const char *name = triggerName(trigger);
	const AutoBackupScheduler::Decision decision = scheduler_.onTrigger(trigger, manager_->autoBackup);
	switch (decision) {
	case AutoBackupScheduler::Decision::Start:
		KESTREL_LOG(LOG_INFO, "Automatic backup (%s) started", name);
		start(trigger, atStart);
		break;
	case AutoBackupScheduler::Decision::Deferred:
		KESTREL_LOG(LOG_INFO,
			    "Automatic backup (%s) deferred: another backup or restore is using the folder",
			    name);
		break;
	case AutoBackupScheduler::Decision::Merged:
		KESTREL_LOG(LOG_INFO, "Automatic backup (%s) joins the run that just started", name);
		break;
	case AutoBackupScheduler::Decision::Off:
		break;
	}
	return decision;
}

void AutoBackups::start(AutoTrigger trigger, bool atStart)
{
	stop_.store(false);
	// Unchanged backups at exit would push real ones out of the kept history.
	manager_->skipWhenUnchanged = trigger == AutoTrigger::Exit;
	manager_->stopRequested = &stop_;
	if (trigger == AutoTrigger::Exit)
		markUnfinished();

	QThread *thread = new QThread;
	thread_ = thread;
	auto *worker = new BackupWorker(*manager_, WorkerMode::Backup, {});
	worker->moveToThread(thread);
	connect(thread, &QThread::started, worker, &BackupWorker::run);
	// Direct: at OBS's exit the interface thread's event loop no longer runs.
	connect(
	    worker, &BackupWorker::backupFinished, worker,
	    [this, worker, trigger, atStart](bool ok, const QString &error) {
		    record(trigger, atStart, worker->summary(), ok, error);
	    },
	    Qt::DirectConnection);
	connect(worker, &BackupWorker::backupFinished, thread, &QThread::quit, Qt::DirectConnection);
	connect(thread, &QThread::finished, worker, &QObject::deleteLater);
	connect(thread, &QThread::finished, this, [this, thread] {
		if (thread_ == thread)
			releaseRun();
	});
	thread->start(QThread::LowPriority);
}

void AutoBackups::record(AutoTrigger trigger, bool atStart, const BackupSummary &summary, bool ok,
			 const QString &error)
{
	AutoBackupOutcome outcome;
	outcome.finishedAt = currentTimestamp();
	outcome.trigger = triggerName(trigger);
	outcome.ok = ok;
	outcome.unchanged = ok && !summary.published;
	outcome.copied = summary.copied();
	outcome.skipped = summary.skipped;
	if (!ok)
		outcome.error = error.isEmpty() ? std::string("Unknown error") : error.toStdString();
	if (ok)
		KESTREL_LOG(LOG_INFO, "Automatic backup (%s) done: %d file(s) copied, %d skipped%s",
			    outcome.trigger.c_str(), outcome.copied, outcome.skipped,
			    outcome.unchanged ? " (nothing changed, no new backup)" : "");
	else
		KESTREL_LOG(LOG_WARNING, "Automatic backup (%s) failed: %s", outcome.trigger.c_str(),
			    outcome.error.c_str());
	{
		const std::lock_guard lock(stateMutex_);
		AutoBackupState state = loadAutoBackupState(statePath_);
		state.lastRun = outcome;
		if (trigger == AutoTrigger::Exit)
			state.exitUnfinished = !ok;
		if (ok && atStart)
			state.lastDailyDate = startDate_;
		if (const std::string failure = storeAutoBackupState(statePath_, state); !failure.empty())
			KESTREL_LOG(LOG_WARNING, "Cannot store the automatic backup's outcome: %s",
				    failure.c_str());
	}
	publishAutoBackupOutcome(outcome);
}

void AutoBackups::markUnfinished()
{
	const std::lock_guard lock(stateMutex_);
	AutoBackupState state = loadAutoBackupState(statePath_);
	state.exitUnfinished = true;
	if (const std::string failure = storeAutoBackupState(statePath_, state); !failure.empty())
		KESTREL_LOG(LOG_WARNING, "Cannot store the automatic backup's state: %s", failure.c_str());
}

bool AutoBackups::finish(std::chrono::milliseconds waitLimit, std::chrono::milliseconds stopLimit)
{
	if (!thread_)
		return true;
	const auto stopAt = (exitAt_ ? *exitAt_ : clock_()) + waitLimit;
	const int64_t patience = std::max<int64_t>(0, milliseconds(stopAt - clock_()));
	if (!thread_->wait(static_cast<unsigned long>(patience))) {
		KESTREL_LOG(LOG_WARNING,
			    "Automatic backup still running as OBS closes; stopping it (the next start "
			    "makes it again)");
		stop_.store(true);
		const bool stopped = thread_->wait(static_cast<unsigned long>(stopLimit.count()));
		markUnfinished();
		if (!stopped) {
			// Its thread, worker, manager and this object must outlive the run, and so
			// must the plug-in's code, which OBS unloads next.
			const bool kept = platform::keepOwnLibraryLoaded();
			KESTREL_LOG(LOG_WARNING, "Automatic backup did not stop in time; it ends with OBS%s",
				    kept ? "" : " (the plug-in could not be kept loaded for it)");
			thread_ = nullptr;
			(void)manager_.release();
			return false;
		}
	}
	releaseRun();
	return true;
}

void AutoBackups::releaseRun()
{
	if (!thread_)
		return;
	thread_->wait();
	delete thread_;
	thread_ = nullptr;
	manager_.reset();
	scheduler_.runEnded();
	emit runEnded();
}

} // namespace kestrel
