#pragma once

#include "backup/auto-backup-settings.h"

#include <QGroupBox>
#include <QTimer>

#include <cstdint>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace kestrel {

// The Settings page's "Automatic backups" group: which events make a backup, how many backups
// to keep, and how the last automatic backup ended (kept current while the dialog is open).
class AutoBackupGroup : public QGroupBox {
	Q_OBJECT

public:
	explicit AutoBackupGroup(const AutoBackupSettings &settings, QWidget *parent = nullptr);

	AutoBackupSettings settings() const;

private:
	void showOutcome();

	QCheckBox *afterStream_;
	QCheckBox *afterRecording_;
	QCheckBox *onExit_;
	QCheckBox *dailyAtStart_;
	QSpinBox *kept_;
	QLabel *outcome_;
	QTimer outcomeWatch_;
	uint64_t shownVersion_ = 0;
};

} // namespace kestrel
