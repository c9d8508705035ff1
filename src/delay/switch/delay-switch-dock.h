#pragma once

#include <QTimer>
#include <QWidget>

class QPushButton;

namespace kestrel {

// The dock's content: one checkable button showing the switch state in the dialog's language,
// and a Dump button. A 40 ms timer polls the toggle and dump keys and picks up toggles from the
// hotkey and language changes.
class DelaySwitchDock : public QWidget {
public:
	explicit DelaySwitchDock(QWidget *parent = nullptr);

	QPushButton *button() const { return button_; }
	QPushButton *dumpButton() const { return dumpButton_; }

private:
	void refreshButton();
	void onTimerTick();

	QPushButton *button_;
	QPushButton *dumpButton_;
	QTimer timer_;
	bool buttonNeedsRefresh_ = true;
	bool buttonShownDisabled_ = false;
	int buttonShownLanguage_ = 0;
};

} // namespace kestrel
