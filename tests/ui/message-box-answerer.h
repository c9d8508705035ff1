#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace kestrel::test {

// Answers every message box the code under test opens, as a user would, and records it, so no
// modal box blocks a test. Boxes beyond the given answers get OK.
class MessageBoxAnswerer {
public:
	struct Box {
		QMessageBox::Icon icon;
		QString title;
		QString text;
		QMessageBox::StandardButtons buttons;
		QMessageBox::StandardButton defaultButton;
	};

	explicit MessageBoxAnswerer(std::deque<QMessageBox::StandardButton> answers = {})
	    : answers_(std::move(answers))
	{
		QObject::connect(&timer_, &QTimer::timeout, [this] { answerOpenBox(); });
		timer_.start(5);
	}

	const std::vector<Box> &boxes() const { return boxes_; }
	size_t count() const { return boxes_.size(); }
	const Box &last() const { return boxes_.back(); }

private:
	void answerOpenBox()
	{
		for (QWidget *widget : QApplication::topLevelWidgets()) {
			auto *box = qobject_cast<QMessageBox *>(widget);
			if (!box || !box->isVisible())
				continue;
			QPushButton *defaultButton = box->defaultButton();
			boxes_.push_back(
			    {box->icon(), box->windowTitle(), box->text(), box->standardButtons(),
			     defaultButton ? box->standardButton(defaultButton) : QMessageBox::NoButton});
			QMessageBox::StandardButton answer = QMessageBox::Ok;
			if (!answers_.empty()) {
				answer = answers_.front();
				answers_.pop_front();
			}
			QAbstractButton *button = box->button(answer);
			if (!button) {
				ADD_FAILURE() << "no such answer in box " << box->windowTitle().toStdString();
				button = box->buttons().front();
			}
			button->click();
			return;
		}
	}

	std::deque<QMessageBox::StandardButton> answers_;
	std::vector<Box> boxes_;
	QTimer timer_;
};

} // namespace kestrel::test
