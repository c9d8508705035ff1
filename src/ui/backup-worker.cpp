#include "ui/backup-worker.h"

#include "module/log.h"

#include <exception>

namespace kestrel {

BackupWorker::BackupWorker(BackupManager &manager, WorkerMode mode, BackupManifest manifest)
    : manager_(&manager), mode_(mode), manifest_(std::move(manifest))
{
}

void BackupWorker::run()
{
	const int mode = static_cast<int>(mode_);
	try {
		runMode();
	} catch (const std::exception &e) {
		KESTREL_LOG(LOG_ERROR, "Worker exception (%d): %s", mode, e.what());
		finishFailed(QStringLiteral("Error: ") + QString::fromUtf8(e.what()));
	} catch (...) {
		KESTREL_LOG(LOG_ERROR, "Worker unknown exception (mode %d)", mode);
		finishFailed(QStringLiteral("Unknown error"));
	}
}

void BackupWorker::runMode()
{
	const RunProgress progressFn = [this](const std::string &file, int32_t pct, int32_t current,
					      int32_t total) {
		emit progress(QString::fromStdString(file), pct, current, total);
	};
	const RunLog logFn = [this](const std::string &line) { emit log(QString::fromStdString(line)); };

	switch (mode_) {
	case WorkerMode::Backup: {
		summary_ = manager_->runBackup(progressFn, logFn);
		emit backupFinished(summary_.success, QString::fromStdString(summary_.message));
		break;
	}
	case WorkerMode::Restore: {
		summary_ = manager_->runRestore(manifest_, progressFn, logFn);
		emit restoreFinished(summary_.success, QString::fromStdString(summary_.message));
		break;
	}
	case WorkerMode::LoadManifest:
		emit manifestLoaded(manager_->fetchHistory(backups_, logFn));
		break;
	}
}

void BackupWorker::finishFailed(const QString &text)
{
	switch (mode_) {
	case WorkerMode::Backup:
		emit backupFinished(false, text);
		break;
	case WorkerMode::Restore:
		emit restoreFinished(false, text);
		break;
	default:
		emit manifestLoaded(false);
		break;
	}
}

} // namespace kestrel
