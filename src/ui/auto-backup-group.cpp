#include "ui/auto-backup-group.h"

#include "common/ui-text.h"
#include "ui/auto-backup-status.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

namespace kestrel {

namespace {

QCheckBox *checkBox(const QString &text, const char *name, bool checked)
{
	auto *box = new QCheckBox(text);
	box->setObjectName(name);
	box->setChecked(checked);
	return box;
}

} // namespace

AutoBackupGroup::AutoBackupGroup(const AutoBackupSettings &settings, QWidget *parent)
    : QGroupBox(uiText(TextId::AutoBackupsGroup), parent),
      afterStream_(checkBox(uiText(TextId::AfterStream), "autoAfterStream", settings.afterStream)),
      afterRecording_(
	  checkBox(uiText(TextId::AfterRecording), "autoAfterRecording", settings.afterRecording)),
      onExit_(checkBox(uiText(TextId::OnExit), "autoOnExit", settings.onExit)),
      dailyAtStart_(checkBox(uiText(TextId::DailyAtStart), "autoDailyAtStart", settings.dailyAtStart)),
      kept_(new QSpinBox), outcome_(new QLabel)
{
	setObjectName("autoBackupGroup");
	auto *grid = new QGridLayout(this);
	grid->addWidget(afterStream_, 0, 0);
	grid->addWidget(afterRecording_, 0, 1);
	grid->addWidget(onExit_, 1, 0);
	grid->addWidget(dailyAtStart_, 1, 1);

	kept_->setObjectName("autoKept");
	kept_->setRange(AutoBackupSettings::kMinKept, AutoBackupSettings::kMaxKept);
	kept_->setValue(settings.kept);
	auto *keptRow = new QHBoxLayout;
	keptRow->addWidget(new QLabel(uiText(TextId::BackupsToKeep)));
	keptRow->addWidget(kept_);
	keptRow->addStretch();
	grid->addLayout(keptRow, 2, 0, 1, 2);

	outcome_->setObjectName("autoBackupOutcome");
	outcome_->setWordWrap(true);
	grid->addWidget(outcome_, 3, 0, 1, 2);
	showOutcome();
	// Runs end on their own threads; a cheap look once a second keeps the line current.
	connect(&outcomeWatch_, &QTimer::timeout, this, [this] {
		if (autoBackupOutcomeVersion() != shownVersion_)
			showOutcome();
	});
	outcomeWatch_.start(1000);
}

AutoBackupSettings AutoBackupGroup::settings() const
{
	AutoBackupSettings settings;
	settings.afterStream = afterStream_->isChecked();
	settings.afterRecording = afterRecording_->isChecked();
	settings.onExit = onExit_->isChecked();
	settings.dailyAtStart = dailyAtStart_->isChecked();
	settings.kept = kept_->value();
	return settings;
}

void AutoBackupGroup::showOutcome()
{
	shownVersion_ = autoBackupOutcomeVersion();
	const auto outcome = latestAutoBackupOutcome();
	outcome_->setText(autoBackupOutcomeLine(outcome));
	outcome_->setStyleSheet(outcome && !outcome->ok ? "color: #c0392b;" : "color: gray;");
}

} // namespace kestrel
