#include "ui/backup-dialog.h"

#include "common/log.h"
#include "common/ui-text.h"
#include "platform/obs-restart.h"
#include "ui/auto-backup-group.h"
#include "ui/skipped-line-text.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kestrel {

namespace {

constexpr int kMinimumWidth = 620;
constexpr int kMinimumHeight = 560;

// Texts of this dialog's own that the shared table has no row for, in the table's language order.
enum class Note { SettingsNotSaved, ClosesAfterRun };

QString noteText(Note note)
{
	static const char *const kNotes[][uiLanguageCount] = {
	    {"The settings were not saved.", "No se guardaron los ajustes.",
	     "Les réglages n'ont pas été enregistrés.", "设置未保存。", "設定を保存できませんでした。"},
	    {"The window closes as soon as the running job has finished.",
	     "La ventana se cierra apenas termine la tarea en curso.",
	     "La fenêtre se fermera dès la fin de la tâche en cours.", "当前任务完成后窗口将自动关闭。",
	     "実行中の処理が終わるとウィンドウを閉じます。"}};
	const int language = currentLanguage().load();
	return QString::fromUtf8(
	    kNotes[static_cast<int>(note)][language >= 0 && language < uiLanguageCount ? language : 0]);
}

} // namespace

BackupDialog::BackupDialog(BackupEnvironment environment, DelaySwitchKeys keys, QWidget *parent)
    : QDialog(parent), manager_(std::move(environment)), keys_(std::move(keys))
{
	manager_.skippedLine = [](const std::string &reason, const std::string &file) {
		return skippedLineText(reason, file).toStdString();
	};
	manager_.loadSettings();
	manager_.setProvider(ProviderKind::LocalFolder);

	mainLayout_ = new QVBoxLayout(this);
	mainLayout_->setContentsMargins(8, 8, 8, 8);
	auto *languageRow = new QHBoxLayout;
	languageRow->addStretch();
	languageRow->addWidget(new QLabel("🌐"));
	languageList_ = new QComboBox;
	languageList_->setObjectName("languageList");
	languageList_->setMaximumWidth(150);
	for (int language = 0; language < uiLanguageCount; ++language)
		languageList_->addItem(languageName(language));
	languageList_->setCurrentIndex(currentLanguage().load());
	connect(languageList_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
		&BackupDialog::onLanguageChanged);
	languageRow->addWidget(languageList_);
	mainLayout_->addLayout(languageRow);
	buildPages();
	updateConnectionStatus();
	fitToContents();
}

BackupDialog::~BackupDialog()
{
	if (worker_)
		KESTREL_LOG(Info, "Backup dialog closing: waiting for the running job to end");
	stopWorker();
}

void BackupDialog::done(int result)
{
	if (!worker_) {
		QDialog::done(result);
		return;
	}
	if (!closeAfterRun_) {
		tabs_->setCurrentIndex(worker_->mode() == WorkerMode::Backup ? 1 : 2);
		onLog(noteText(Note::ClosesAfterRun));
	}
	closeAfterRun_ = result;
}

void BackupDialog::onConnectClicked()
{
	saveSettings();
	if (manager_.clientId.empty()) {
		QMessageBox::warning(this, uiText(TextId::MissingClientIdTitle),
				     uiText(TextId::MissingClientId));
		return;
	}
	connectButton_->setEnabled(false);
	connectButton_->setText(uiText(TextId::Connecting));
	const bool ok = manager_.provider().authenticate();
	if (ok)
		writeSettingsOrWarn();
	connectButton_->setEnabled(true);
	connectButton_->setText(uiText(TextId::Connect));
	updateConnectionStatus();
	if (!ok) {
		const ICloudProvider &provider = manager_.provider();
		QMessageBox::warning(
		    this, uiText(TextId::AuthenticationFailedTitle),
		    uiText(TextId::AuthenticationFailed).arg(QString::fromStdString(provider.name())) +
			"\n\n" + QString::fromStdString(provider.lastError()));
	}
}

void BackupDialog::onBrowseClicked()
{
	const QString folder =
	    QFileDialog::getExistingDirectory(this, uiText(TextId::SelectBackupFolder),
					      folderEdit_->text().trimmed(), QFileDialog::ShowDirsOnly);
	if (!folder.isEmpty())
		folderEdit_->setText(QDir::toNativeSeparators(folder));
}

void BackupDialog::onBackupClicked()
{
	if (!manager_.provider().isAuthenticated()) {
		QMessageBox::warning(this, uiText(TextId::NotConnectedTitle), uiText(TextId::ConnectFirst));
		tabs_->setCurrentIndex(0);
		return;
	}
	backupLog_->clear();
	backupProgress_->setValue(0);
	startWorker(WorkerMode::Backup, {});
}

void BackupDialog::onRefreshManifest()
{
	manifestTree_->clear();
	restoreLog_->clear();
	restoreButton_->setEnabled(false);
	startWorker(WorkerMode::LoadManifest, {});
}

void BackupDialog::onRestoreClicked()
{
	const BackupManifest *backup = chosenBackup();
	if (!backup) {
		QMessageBox::information(this, uiText(TextId::NoBackupTitle), uiText(TextId::NoBackupLoaded));
		return;
	}
	if (QMessageBox::question(this, uiText(TextId::RestoreBackupTitle), uiText(TextId::RestoreOverwrites),
				  QMessageBox::Yes | QMessageBox::No,
				  QMessageBox::NoButton) != QMessageBox::Yes ||
	    !chooseOutsideHomeMedia(*backup))
		return;
	manager_.restoreCollectionName = collectionNameEdit_->text().trimmed().toStdString();
	restoreProgress_->setValue(0);
	restoreLog_->clear();
	startWorker(WorkerMode::Restore, *backup);
}

bool BackupDialog::chooseOutsideHomeMedia(const BackupManifest &backup)
{
	constexpr int kListed = 10;
	manager_.restoreOutsideHome = true; // to learn where they would go
	QStringList places;
	for (const RestoreStep &step : manager_.planRestore(backup))
		if (step.outsideHome && step.refusal.empty())
			places << QString::fromStdString(step.entry->originalLocal) +
				      QStringLiteral("  \u2192  ") + QString::fromStdString(step.destination);
	manager_.restoreOutsideHome = false;
	if (places.isEmpty())
		return true;
	QString text = uiText(TextId::OutsideMediaQuestion).arg(places.size()) + "\n\n" +
		       places.mid(0, kListed).join('\n');
	if (places.size() > kListed)
		text += '\n' + uiText(TextId::AndMore).arg(places.size() - kListed);
	QMessageBox box(QMessageBox::Question, uiText(TextId::OutsideMediaTitle), text,
			QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
	box.button(QMessageBox::Yes)->setText(uiText(TextId::PutThemBack));
	box.button(QMessageBox::No)->setText(uiText(TextId::SkipThem));
	box.setDefaultButton(QMessageBox::Yes);
	const int answer = box.exec();
	manager_.restoreOutsideHome = answer == QMessageBox::Yes;
	return answer != QMessageBox::Cancel;
}

void BackupDialog::onProviderChanged(int)
{
	for (QWidget *cloudOnly :
	     {static_cast<QWidget *>(clientIdLabel_), static_cast<QWidget *>(clientIdEdit_),
	      static_cast<QWidget *>(clientSecretLabel_), static_cast<QWidget *>(clientSecretEdit_),
	      static_cast<QWidget *>(connectButton_)})
		cloudOnly->hide();
	folderLabel_->show();
	folderEdit_->show();
	browseButton_->show();
	hintLabel_->setText(uiText(TextId::LocalFolderHint));
}

void BackupDialog::onLanguageChanged(int index)
{
	if (index < 0 || index >= uiLanguageCount)
		return;
	chooseLanguage(index);
	const int page = tabs_->currentIndex();
	const int chosen = backupList_->currentIndex();
	const bool restoreEnabled = restoreButton_->isEnabled();
	mainLayout_->removeWidget(tabs_);
	delete tabs_;
	buildPages();
	updateConnectionStatus();
	tabs_->setCurrentIndex(page);
	// The loaded backups survive: show them again and keep Restore usable.
	if (!backups_.empty())
		showBackups(chosen);
	restoreButton_->setEnabled(restoreEnabled);
	if (worker_)
		setRunControlsEnabled(false);
	fitToContents();
}

void BackupDialog::fitToContents()
{
	// The layout's own minimum leaves wrapped texts too little height; what the pages need at
	// the narrowest width raises the floor instead.
	mainLayout_->activate();
	const int width = std::max(kMinimumWidth, mainLayout_->totalMinimumSize().width());
	const int height =
	    std::max({kMinimumHeight, mainLayout_->totalMinimumSize().height(),
		      mainLayout_->hasHeightForWidth() ? mainLayout_->totalHeightForWidth(width) : 0});
	setMinimumSize(width, height);
}

void BackupDialog::saveSettings()
{
	manager_.clientId = clientIdEdit_->text().trimmed().toStdString();
	manager_.clientSecret = clientSecretEdit_->text().trimmed().toStdString();
	manager_.localPath = folderEdit_->text().trimmed().toStdString();
	manager_.autoBackup = autoBackupGroup_->settings();
	manager_.setProvider(ProviderKind::LocalFolder);
	if (!manager_.localPath.empty())
		manager_.provider().authenticate();
	if (writeSettingsOrWarn()) {
		updateConnectionStatus();
		QMessageBox::information(this, uiText(TextId::SettingsSavedTitle),
					 uiText(TextId::SettingsSaved));
	}
}

bool BackupDialog::writeSettingsOrWarn()
{
	QString reason;
	try {
		manager_.writeSettings();
	} catch (const std::exception &e) {
		reason = QString::fromUtf8(e.what());
	}
	if (reason.isEmpty())
		return true;
	KESTREL_LOG(Warning, "Settings not saved: %s", reason.toUtf8().constData());
	updateConnectionStatus();
	QMessageBox::warning(this, uiText(TextId::SaveSettings),
			     noteText(Note::SettingsNotSaved) + "\n\n" + reason);
	return false;
}

const BackupManifest *BackupDialog::chosenBackup() const
{
	const int index = backupList_->currentIndex();
	if (index < 0 || index >= static_cast<int>(backups_.size()))
		return nullptr;
	const BackupManifest &backup = backups_[static_cast<size_t>(index)];
	const bool empty =
	    backup.sceneCollections.empty() && backup.profiles.empty() && backup.mediaFiles.empty();
	return empty ? nullptr : &backup;
}

void BackupDialog::updateConnectionStatus()
{
	const ICloudProvider &provider = manager_.provider();
	const bool connected = provider.isAuthenticated();
	statusLabel_->setText(connected
				  ? uiText(TextId::ConnectedTo).arg(QString::fromStdString(provider.name()))
				  : uiText(TextId::NotConnected));
	statusLabel_->setStyleSheet(connected ? "color: green; font-weight: bold;" : "color: gray;");
	connectButton_->setText(connected ? uiText(TextId::Reconnect) : uiText(TextId::Connect));
}

void BackupDialog::restartObs()
{
	const QString executable = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
	const QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
	const QString tempFolder = QDir::toNativeSeparators(QDir::tempPath());
	if (!platform::restartObsLater(executable.toStdString(), folder.toStdString(),
				       tempFolder.toStdString()))
		KESTREL_LOG(Warning, "Could not start the OBS restart script in %s",
			    tempFolder.toUtf8().constData());
}

} // namespace kestrel
