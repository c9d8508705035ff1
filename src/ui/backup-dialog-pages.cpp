#include "ui/backup-dialog.h"

#include "common/ui-text.h"
#include "common/version.h"
#include "delay/keys/key-lists.h"
#include "ui/auto-backup-group.h"
#include "ui/support-panel.h"

#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kestrel {

namespace {

template <typename Widget> Widget *named(Widget *widget, const char *name)
{
	widget->setObjectName(name);
	return widget;
}

QTextEdit *logPane(const char *name)
{
	auto *log = named(new QTextEdit, name);
	log->setReadOnly(true);
	log->setFont(QFont("Consolas", 9));
	return log;
}

QProgressBar *progressBar(const char *name)
{
	auto *bar = named(new QProgressBar, name);
	bar->setRange(0, 100);
	bar->setValue(0);
	return bar;
}

QPushButton *runButton(const QString &text, const char *name)
{
	auto *button = named(new QPushButton(text), name);
	button->setMinimumHeight(36);
	return button;
}

// A folder a desktop sync client typically keeps below the user's home, written as this system
// writes paths.
QString exampleBackupFolder(const std::string &homeFolder)
{
	const QString home = QString::fromStdString(homeFolder);
	const QString folder = QStringLiteral("OneDrive/OBS-Backup");
	return QDir::toNativeSeparators(home.isEmpty() ? folder : QDir(home).filePath(folder));
}

QLabel *grayWrappedLabel(const QString &text)
{
	auto *label = new QLabel(text);
	label->setWordWrap(true);
	label->setStyleSheet("color: gray;");
	return label;
}

} // namespace

void BackupDialog::buildPages()
{
	setWindowTitle(uiText(TextId::DialogTitle));
	tabs_ = named(new QTabWidget, "tabs");
	tabs_->addTab(buildSettingsPage(), uiText(TextId::SettingsTab));
	tabs_->addTab(buildBackupPage(), uiText(TextId::BackupTab));
	tabs_->addTab(buildRestorePage(), uiText(TextId::RestoreTab));
	mainLayout_->addWidget(tabs_);
}

QWidget *BackupDialog::buildSettingsPage()
{
	auto *page = new QWidget;
	auto *layout = new QVBoxLayout(page);
	layout->setSpacing(12);
	layout->addWidget(buildProviderGroup());

	auto *authGroup = new QGroupBox(uiText(TextId::AuthorizationGroup));
	auto *authRow = new QHBoxLayout(authGroup);
	statusLabel_ = named(new QLabel(uiText(TextId::NotConnected)), "statusLabel");
	connectButton_ = named(new QPushButton(uiText(TextId::Connect)), "connectButton");
	connectButton_->setMinimumWidth(110);
	authRow->addWidget(statusLabel_);
	authRow->addStretch();
	authRow->addWidget(connectButton_);
	layout->addWidget(authGroup);

	layout->addWidget(buildDelaySwitchGroup());
	autoBackupGroup_ = new AutoBackupGroup(manager_.autoBackup);
	layout->addWidget(autoBackupGroup_);

	auto *saveRow = new QHBoxLayout;
	saveButton_ = named(new QPushButton(uiText(TextId::SaveSettings)), "saveButton");
	saveRow->addStretch();
	saveRow->addWidget(saveButton_);
	layout->addLayout(saveRow);
	layout->addStretch();
	hintLabel_ = named(new QLabel, "hintLabel");
	hintLabel_->setWordWrap(true);
	hintLabel_->setTextFormat(Qt::RichText);
	layout->addWidget(hintLabel_);

	connect(providerList_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
		&BackupDialog::onProviderChanged);
	connect(connectButton_, &QPushButton::clicked, this, &BackupDialog::onConnectClicked);
	connect(browseButton_, &QPushButton::clicked, this, &BackupDialog::onBrowseClicked);
	connect(saveButton_, &QPushButton::clicked, this, &BackupDialog::saveSettings);
	onProviderChanged(providerList_->currentIndex());
	return page;
}

// The settings as loaded; the constructor has chosen the local folder already.
QGroupBox *BackupDialog::buildProviderGroup()
{
	auto *providerGroup = new QGroupBox(uiText(TextId::CloudProviderGroup));
	auto *grid = new QGridLayout(providerGroup);
	providerList_ = named(new QComboBox, "providerList");
	providerList_->addItem(uiText(TextId::LocalFolderProvider));
	providerList_->setCurrentIndex(0);
	grid->addWidget(new QLabel(uiText(TextId::ProviderLabel)), 0, 0);
	grid->addWidget(providerList_, 0, 1, 1, 2);
	clientIdLabel_ = new QLabel(uiText(TextId::ClientIdLabel));
	clientIdEdit_ = named(new QLineEdit(QString::fromStdString(manager_.clientId)), "clientIdEdit");
	clientIdEdit_->setPlaceholderText(uiText(TextId::ClientIdPlaceholder));
	grid->addWidget(clientIdLabel_, 1, 0);
	grid->addWidget(clientIdEdit_, 1, 1, 1, 2);
	clientSecretLabel_ = new QLabel(uiText(TextId::ClientSecretLabel));
	clientSecretEdit_ =
	    named(new QLineEdit(QString::fromStdString(manager_.clientSecret)), "clientSecretEdit");
	clientSecretEdit_->setPlaceholderText(uiText(TextId::ClientSecretHint));
	clientSecretEdit_->setEchoMode(QLineEdit::Password);
	grid->addWidget(clientSecretLabel_, 2, 0);
	grid->addWidget(clientSecretEdit_, 2, 1, 1, 2);
	folderLabel_ = new QLabel(uiText(TextId::BackupFolderLabel));
	folderEdit_ = named(new QLineEdit(QString::fromStdString(manager_.localPath)), "folderEdit");
	folderEdit_->setPlaceholderText(uiText(TextId::BackupFolderPlaceholder)
					    .arg(exampleBackupFolder(manager_.environment().homeFolder)));
	browseButton_ = named(new QPushButton(uiText(TextId::Browse)), "browseButton");
	grid->addWidget(folderLabel_, 3, 0);
	grid->addWidget(folderEdit_, 3, 1);
	grid->addWidget(browseButton_, 3, 2);
	return providerGroup;
}

// The delay switch's keys, read and stored through `keys_`.
QGroupBox *BackupDialog::buildDelaySwitchGroup()
{
	auto *switchGroup = new QGroupBox(uiText(TextId::DelaySwitchGroup));
	auto *switchLayout = new QVBoxLayout(switchGroup);
	auto addKeyRow = [&](const QString &label, const char *name, const KeyAccess &key) {
		auto *row = new QHBoxLayout;
		auto *list = named(new QComboBox, name);
		for (const KeyChoice &choice :
		     delaySwitchKeyChoices(uiText(TextId::NoToggleKey).toStdString()))
			list->addItem(QString::fromStdString(choice.label), static_cast<int>(choice.code));
		list->setCurrentIndex(std::max(0, list->findData(key.get())));
		connect(list, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
			[list, set = key.set](int index) { set(list->itemData(index).toInt()); });
		row->addWidget(new QLabel(label));
		row->addWidget(list);
		row->addStretch();
		switchLayout->addLayout(row);
		return list;
	};
	switchKeyList_ = addKeyRow(uiText(TextId::ToggleKeyLabel), "switchKeyList", keys_.toggle);
	dumpKeyList_ = addKeyRow(uiText(TextId::DumpKeyLabel), "dumpKeyList", keys_.dump);
	switchLayout->addWidget(grayWrappedLabel(uiText(TextId::ToggleKeyHint)));
	return switchGroup;
}

QWidget *BackupDialog::buildBackupPage()
{
	auto *page = new QWidget;
	auto *layout = new QVBoxLayout(page);
	layout->setSpacing(8);
	backupIntro_ = named(new QLabel(uiText(TextId::BackupIntro)), "backupIntro");
	backupIntro_->setWordWrap(true);
	backupProgress_ = progressBar("backupProgress");
	backupLog_ = logPane("backupLog");
	startBackupButton_ = runButton(uiText(TextId::StartBackup), "startBackupButton");
	connect(startBackupButton_, &QPushButton::clicked, this, &BackupDialog::onBackupClicked);
	auto *version = new QLabel(QStringLiteral("Kestrel v") + kestrelVersion);
	version->setStyleSheet("color: gray;");
	version->setAlignment(Qt::AlignRight);
	layout->addWidget(backupIntro_);
	layout->addWidget(backupProgress_);
	layout->addWidget(backupLog_);
	layout->addWidget(startBackupButton_);
	if (const QString page = projectPage(); !page.isEmpty()) {
		layout->addWidget(makeSupportGroup(page));
		layout->addWidget(makeSocialGroup(page));
	}
	layout->addWidget(version);
	return page;
}

QWidget *BackupDialog::buildRestorePage()
{
	auto *page = new QWidget;
	auto *layout = new QVBoxLayout(page);
	layout->setSpacing(8);

	auto *topRow = new QHBoxLayout;
	refreshButton_ = named(new QPushButton(uiText(TextId::Refresh)), "refreshButton");
	connect(refreshButton_, &QPushButton::clicked, this, &BackupDialog::onRefreshManifest);
	backupList_ = named(new QComboBox, "backupList");
	backupList_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
	connect(backupList_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
		[this] { showManifest(); });
	topRow->addWidget(new QLabel(uiText(TextId::AvailableBackupLabel)));
	topRow->addWidget(backupList_, 1);
	topRow->addWidget(refreshButton_);
	layout->addLayout(topRow);

	manifestTree_ = named(new QTreeWidget, "manifestTree");
	manifestTree_->setHeaderLabels(
	    {uiText(TextId::ItemColumn), uiText(TextId::TypeColumn), uiText(TextId::SizeColumn)});
	manifestTree_->header()->setStretchLastSection(false);
	manifestTree_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
	manifestTree_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
	manifestTree_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
	layout->addWidget(manifestTree_);

	auto *nameRow = new QHBoxLayout;
	collectionNameEdit_ = named(new QLineEdit, "collectionNameEdit");
	collectionNameEdit_->setPlaceholderText(uiText(TextId::CollectionNamePlaceholder));
	nameRow->addWidget(new QLabel(uiText(TextId::CollectionNameLabel)));
	nameRow->addWidget(collectionNameEdit_);
	layout->addLayout(nameRow);

	restoreProgress_ = progressBar("restoreProgress");
	restoreLog_ = logPane("restoreLog");
	restoreLog_->setMaximumHeight(100);
	restoreButton_ = runButton(uiText(TextId::RestoreSelected), "restoreButton");
	restoreButton_->setEnabled(false);
	connect(restoreButton_, &QPushButton::clicked, this, &BackupDialog::onRestoreClicked);
	layout->addWidget(restoreProgress_);
	layout->addWidget(restoreLog_);
	layout->addWidget(restoreButton_);
	return page;
}

} // namespace kestrel
