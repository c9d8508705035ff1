#pragma once

#include "common/status-line.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>

namespace kestrel {
class DelaySwitch;
}

class QLabel;
class QPushButton;

namespace kestrel {

// The dock's content: one checkable button showing the switch state in the dialog's language,
// a Dump button and one status line (the last automatic backup's outcome). A 40 ms timer polls the toggle and
// dump keys and picks up toggles from the hotkey and language changes.
class DelaySwitchDock : public QWidget {
public:
	DelaySwitchDock(DelaySwitch &delays, StatusFeed status, QWidget *parent = nullptr);

	QPushButton *button() const { return button_; }
	QPushButton *dumpButton() const { return dumpButton_; }
	QLabel *autoBackupLine() const { return autoBackupLine_; }

private:
	void refreshButton();
	void refreshAutoBackupLine();
	void onTimerTick();

	QPushButton *button_;
	QPushButton *dumpButton_;
	QLabel *autoBackupLine_;
	QTimer timer_;
	DelaySwitch &delays_;
	StatusFeed status_;
	uint64_t autoBackupShownVersion_ = 0;
	bool buttonNeedsRefresh_ = true;
	bool buttonShownDisabled_ = false;
	int buttonShownLanguage_ = 0;
};

} // namespace kestrel
