#pragma once

#include <QTimer>
#include <QWidget>

class QPushButton;

namespace kestrel {

// The dock's content: one checkable button showing the switch state in the dialog's language.
// A 40 ms timer polls the toggle key and picks up toggles from the hotkey and language changes.
class DelaySwitchDock : public QWidget {
public:
	explicit DelaySwitchDock(QWidget *parent = nullptr);

	QPushButton *button() const { return button_; }

private:
	void refreshButton();
	void onTimerTick();

	QPushButton *button_;
	QTimer timer_;
	bool buttonNeedsRefresh_ = true;
	bool buttonShownDisabled_ = false;
	int buttonShownLanguage_ = 0;
};

} // namespace kestrel
