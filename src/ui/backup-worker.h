#pragma once

#include "backup/backup-manager.h"

#include <QObject>
#include <QString>

namespace kestrel {

enum class WorkerMode : int32_t { Backup = 0, Restore = 1, LoadManifest = 2 };

// Runs one backup, restore or manifest download of the dialog's engine on the thread it was
// moved to, and reports only through its signals. Serves exactly one run.
class BackupWorker : public QObject {
	Q_OBJECT

public:
	// `manager` is the dialog's and must outlive the run; `manifest` is what a restore restores.
	BackupWorker(BackupManager &manager, WorkerMode mode, BackupManifest manifest);

	// The kept backups a manifest download found, newest first; read only after manifestLoaded.
	const std::vector<BackupManifest> &backups() const { return backups_; }
	WorkerMode mode() const { return mode_; }
	// What a backup or restore run counted; read only after its finished signal.
	const BackupSummary &summary() const { return summary_; }

signals:
	void progress(const QString &file, int pct, int current, int total);
	void log(const QString &msg);
	void backupFinished(bool success, const QString &);
	void restoreFinished(bool success, const QString &);
	void manifestLoaded(bool ok);

public slots:
	void run();

private:
	void runMode();
	void finishFailed(const QString &text);

	BackupManager *manager_;
	WorkerMode mode_;
	BackupManifest manifest_;
	std::vector<BackupManifest> backups_;
	BackupSummary summary_;
};

} // namespace kestrel
