#include "ui/backup-dialog.h"

#include "common/ui-text.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QThread>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

namespace kestrel {

namespace {

QString sizeText(int64_t size)
{
	if (size < 0)
		return QStringLiteral("?"); // unknown
	if (size < 1024)
		return QStringLiteral("%1 B").arg(size);
	if (size >= 1048576)
		return QStringLiteral("%1 MB").arg(size / 1048576);
	return QStringLiteral("%1 KB").arg(size / 1024);
}

// "2026-03-01 19:05:09 — 12 files, 35 MB", in local time.
QString backupText(const BackupManifest &backup)
{
	const QString createdAt = QString::fromStdString(backup.createdAt);
	const QDateTime time = QDateTime::fromString(createdAt, Qt::ISODate);
	int64_t bytes = 0;
	size_t files = 0;
	for (const auto *list : {&backup.sceneCollections, &backup.profiles, &backup.mediaFiles}) {
		files += list->size();
		for (const BackupEntry &entry : *list)
			bytes += std::max<int64_t>(entry.size, 0);
	}
	return (time.isValid() ? time.toLocalTime().toString("yyyy-MM-dd hh:mm:ss") : createdAt) +
	       QStringLiteral(" \u2014 ") + uiText(TextId::FileCount).arg(files) + ", " + sizeText(bytes);
}

// "My_Scenes.JSON" -> "My Scenes".
QString collectionNameFromFile(const std::string &fileName)
{
	QString name = QString::fromStdString(fileName);
	if (name.endsWith(".json", Qt::CaseInsensitive))
		name.chop(5);
	return name.replace('_', ' ');
}

} // namespace

void BackupDialog::startWorker(WorkerMode mode, const BackupManifest &manifest)
{
	stopWorker();
	setRunControlsEnabled(false);
	workerThread_ = new QThread(this);
	worker_ = new BackupWorker(manager_, mode, manifest);
	worker_->moveToThread(workerThread_);

	connect(workerThread_, &QThread::started, worker_, &BackupWorker::run);
	connect(worker_, &BackupWorker::progress, this, &BackupDialog::onProgress);
	connect(worker_, &BackupWorker::log, this, &BackupDialog::onLog);
	connect(worker_, &BackupWorker::backupFinished, this, &BackupDialog::onBackupFinished);
	connect(worker_, &BackupWorker::restoreFinished, this, &BackupDialog::onRestoreFinished);
	connect(worker_, &BackupWorker::manifestLoaded, this, &BackupDialog::onManifestArrived);
	connect(worker_, &BackupWorker::manifestLoaded, workerThread_, &QThread::quit);
	connect(worker_, &BackupWorker::backupFinished, workerThread_, &QThread::quit);
	connect(worker_, &BackupWorker::restoreFinished, workerThread_, &QThread::quit);
	// Deleted on its own thread as that ends, so the worker is really freed.
	connect(workerThread_, &QThread::finished, worker_, &QObject::deleteLater);
	workerThread_->start();
}

void BackupDialog::stopWorker()
{
	if (!workerThread_)
		return;
	// No time limit: thread, worker and manager must outlive a run that is still going (the
	// finished slots get here only after the run's last signal, so they wait at most a moment).
	workerThread_->quit();
	workerThread_->wait();
	workerThread_->deleteLater();
	workerThread_ = nullptr;
	worker_ = nullptr;
}

void BackupDialog::setRunControlsEnabled(bool enabled)
{
	for (QWidget *control :
	     {static_cast<QWidget *>(startBackupButton_), static_cast<QWidget *>(refreshButton_),
	      static_cast<QWidget *>(restoreButton_), static_cast<QWidget *>(connectButton_),
	      static_cast<QWidget *>(saveButton_), static_cast<QWidget *>(languageList_),
	      static_cast<QWidget *>(switchKeyList_), static_cast<QWidget *>(dumpKeyList_)})
		control->setEnabled(enabled);
}

void BackupDialog::onProgress(const QString &, int pct, int current, int total)
{
	const int value = total > 0 ? ((current - 1) * 100 + pct) / total : pct;
	backupProgress_->setValue(value);
	restoreProgress_->setValue(value);
}

void BackupDialog::onLog(const QString &msg)
{
	const QString line = "[" + QDateTime::currentDateTime().toString("hh:mm:ss") + "] " + msg;
	backupLog_->append(line);
	restoreLog_->append(line);
}

void BackupDialog::onBackupFinished(bool success, const QString &error)
{
	stopWorker();
	setRunControlsEnabled(true);
	backupProgress_->setValue(success ? 100 : 0);
	if (success)
		QMessageBox::information(this, uiText(TextId::BackupCompleteTitle),
					 uiText(TextId::BackupUploaded));
	else
		QMessageBox::warning(this, uiText(TextId::BackupFailedTitle),
				     error.isEmpty() ? uiText(TextId::BackupError) : error);
	finishRun();
}

void BackupDialog::onRestoreFinished(bool success, const QString &error)
{
	stopWorker();
	setRunControlsEnabled(true);
	restoreProgress_->setValue(success ? 100 : 0);
	if (!success)
		QMessageBox::warning(this, uiText(TextId::RestoreFailedTitle),
				     error.isEmpty() ? uiText(TextId::RestoreError) : error);
	else if (QMessageBox::question(
		     this, uiText(TextId::RestoreCompleteTitle), uiText(TextId::RestoreCompleteRestartObs),
		     QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes)
		restartObs();
	finishRun();
}

void BackupDialog::onManifestArrived(bool ok)
{
	if (ok && worker_)
		backups_ = worker_->backups();
	onManifestLoaded(ok);
}

void BackupDialog::onManifestLoaded(bool ok)
{
	stopWorker();
	setRunControlsEnabled(true);
	if (!ok) {
		const ICloudProvider &provider = manager_.provider();
		const QString error = QString::fromStdString(provider.lastError());
		QMessageBox::warning(
		    this, uiText(TextId::NoBackupFoundTitle),
		    uiText(TextId::NoBackupFound).arg(QString::fromStdString(provider.name())) + "\n\n" +
			(error.isEmpty() ? QString() : error + "\n\n") + uiText(TextId::CheckBackupFolder));
		showManifest(); // the backups loaded before stay restorable
	} else {
		showBackups(0);
		restoreButton_->setEnabled(true);
	}
	finishRun();
}

void BackupDialog::showBackups(int chosen)
{
	{
		const QSignalBlocker quiet(backupList_);
		backupList_->clear();
		for (const BackupManifest &backup : backups_)
			backupList_->addItem(backupText(backup));
		backupList_->setCurrentIndex(chosen);
	}
	showManifest();
}

void BackupDialog::showManifest()
{
	manifestTree_->clear();
	const BackupManifest *backup = chosenBackup();
	if (!backup)
		return;
	addManifestGroup(uiText(TextId::SceneCollections), backup->sceneCollections);
	addManifestGroup(uiText(TextId::Profiles), backup->profiles);
	addManifestGroup(uiText(TextId::MediaFiles), backup->mediaFiles);
	if (!backup->sceneCollections.empty())
		collectionNameEdit_->setText(collectionNameFromFile(backup->sceneCollections.front().name));
}

void BackupDialog::addManifestGroup(const QString &title, const std::vector<BackupEntry> &entries)
{
	auto *group = new QTreeWidgetItem(manifestTree_);
	group->setText(0, title + " (" + uiText(TextId::FileCount).arg(entries.size()) + ")");
	group->setExpanded(true);
	for (const BackupEntry &entry : entries) {
		auto *item = new QTreeWidgetItem(group);
		item->setText(0, QString::fromStdString(entry.name));
		item->setText(1, title);
		item->setText(2, sizeText(entry.size));
	}
}

void BackupDialog::finishRun()
{
	if (closeAfterRun_)
		QDialog::done(*std::exchange(closeAfterRun_, std::nullopt));
}

} // namespace kestrel
