#pragma once

#include "backup/backup-manager.h"
#include "ui/backup-worker.h"

#include <QDialog>

#include <functional>
#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTextEdit;
class QThread;
class QTreeWidget;
class QVBoxLayout;

namespace kestrel {

class AutoBackupGroup;

// One of the delay switch's keys: the module hands in the running switch's accessors, so a pick
// takes effect at once and is stored ("delayToggleVk", "delayDumpVk").
struct KeyAccess {
	std::function<int()> get;
	std::function<void(int)> set;
};

struct DelaySwitchKeys {
	KeyAccess toggle;
	KeyAccess dump;
};

// The Tools menu's backup dialog: the backup folder, backups, the backups kept in the folder
// and restores of the one picked, the delay switch's key, the language and the support panel. Runs go to a
// BackupWorker on a thread of their own, one at a time.
class BackupDialog : public QDialog {
	Q_OBJECT

public:
	BackupDialog(BackupEnvironment environment, DelaySwitchKeys keys, QWidget *parent = nullptr);
	~BackupDialog() override;

	// The worker of the run in progress; null between runs.
	BackupWorker *currentWorker() const { return worker_; }

	// While a run is active the dialog stays open and closes when the run has ended.
	void done(int result) override;

private slots:
	void onConnectClicked();
	void onBrowseClicked();
	void onBackupClicked();
	void onRefreshManifest();
	void onRestoreClicked();
	void onProgress(const QString &file, int pct, int current, int total);
	void onLog(const QString &msg);
	void onBackupFinished(bool success, const QString &error);
	void onRestoreFinished(bool success, const QString &error);
	void onManifestLoaded(bool ok);
	void onProviderChanged(int index);
	void onLanguageChanged(int index);
	void saveSettings();

private:
	void buildPages();
	QWidget *buildSettingsPage();
	QGroupBox *buildProviderGroup();
	QGroupBox *buildDelaySwitchGroup();
	QWidget *buildBackupPage();
	QWidget *buildRestorePage();
	void updateConnectionStatus();
	bool writeSettingsOrWarn();
	void addManifestGroup(const QString &title, const std::vector<BackupEntry> &entries);
	// The kept backups in the list, `chosen` picked, and the picked one's files in the tree.
	void showBackups(int chosen);
	void showManifest();
	// The backup picked in the list; null when none is loaded or it lists no file.
	const BackupManifest *chosenBackup() const;
	// Asks whether media that lay outside the old home go back; false when the user cancels.
	bool chooseOutsideHomeMedia(const BackupManifest &backup);
	void restartObs();
	void fitToContents();

	void startWorker(WorkerMode mode, const BackupManifest &manifest);
	void stopWorker();
	void onManifestArrived(bool ok);
	void setRunControlsEnabled(bool enabled);
	void finishRun();

	BackupManager manager_;
	std::vector<BackupManifest> backups_; // the kept backups last loaded, newest first
	QThread *workerThread_ = nullptr;
	BackupWorker *worker_ = nullptr;
	DelaySwitchKeys keys_;
	std::optional<int> closeAfterRun_;

	QVBoxLayout *mainLayout_ = nullptr;
	QComboBox *languageList_ = nullptr;
	QTabWidget *tabs_ = nullptr;
	QComboBox *providerList_ = nullptr;
	QLabel *clientIdLabel_ = nullptr;
	QLineEdit *clientIdEdit_ = nullptr;
	QLabel *clientSecretLabel_ = nullptr;
	QLineEdit *clientSecretEdit_ = nullptr;
	QLabel *folderLabel_ = nullptr;
	QLineEdit *folderEdit_ = nullptr;
	QPushButton *browseButton_ = nullptr;
	QLabel *statusLabel_ = nullptr;
	QPushButton *connectButton_ = nullptr;
	QPushButton *saveButton_ = nullptr;
	QComboBox *switchKeyList_ = nullptr;
	QComboBox *dumpKeyList_ = nullptr;
	QLabel *hintLabel_ = nullptr;
	AutoBackupGroup *autoBackupGroup_ = nullptr;
	QLabel *backupIntro_ = nullptr;
	QProgressBar *backupProgress_ = nullptr;
	QTextEdit *backupLog_ = nullptr;
	QPushButton *startBackupButton_ = nullptr;
	QPushButton *refreshButton_ = nullptr;
	QComboBox *backupList_ = nullptr;
	QTreeWidget *manifestTree_ = nullptr;
	QLineEdit *collectionNameEdit_ = nullptr;
	QProgressBar *restoreProgress_ = nullptr;
	QTextEdit *restoreLog_ = nullptr;
	QPushButton *restoreButton_ = nullptr;
};

} // namespace kestrel
