#include "delay/switch/delay-switch-dock.h"

#include "common/ui-text.h"
#include "delay/delays-disabled.h"
#include "delay/switch/delay-switch.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {
namespace {

constexpr int timerIntervalMs = 40;

const char *const delaysOffStyle =
    "QPushButton{background:#8a2020;color:white;font-weight:bold;border:none;border-radius:6px;padding:6px;}"
    "QPushButton:hover{background:#a02828;}";
const char *const delaysOnStyle =
    "QPushButton{background:#1f7a34;color:white;font-weight:bold;border:none;border-radius:6px;padding:6px;}"
    "QPushButton:hover{background:#25923f;}";
// Kept apart from the switch's colours, so the two buttons never read as one state.
const char *const dumpStyle =
    "QPushButton{background:#3a3a3a;color:#ffd27a;font-weight:bold;border:1px solid #c07000;"
    "border-radius:6px;padding:6px;}"
    "QPushButton:hover{background:#4a4030;}";

} // namespace

DelaySwitchDock::DelaySwitchDock(DelaySwitch &delays, StatusFeed status, QWidget *parent)
    : QWidget(parent), button_(new QPushButton(this)), dumpButton_(new QPushButton(this)),
      autoBackupLine_(new QLabel(this)), timer_(this), delays_(delays), status_(status)
{
	setObjectName(QStringLiteral("WrenfieldDelaySwitch"));
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(8, 8, 8, 8);
	button_->setCheckable(true);
	button_->setCursor(Qt::PointingHandCursor);
	button_->setMinimumHeight(52);
	layout->addWidget(button_);
	dumpButton_->setObjectName(QStringLiteral("WrenfieldDelayDump"));
	dumpButton_->setCursor(Qt::PointingHandCursor);
	dumpButton_->setStyleSheet(QString::fromLatin1(dumpStyle));
	layout->addWidget(dumpButton_);
	autoBackupLine_->setObjectName(QStringLiteral("KestrelAutoBackupLine"));
	layout->addWidget(autoBackupLine_);
	layout->addStretch();
	refreshButton();

	// A click dropped by the debounce still snaps the button back to the real state.
	connect(button_, &QPushButton::clicked, this, [this] {
		delays_.toggleAll();
		refreshButton();
	});
	connect(dumpButton_, &QPushButton::clicked, this, [this] { delays_.dumpAll(); });
	timer_.setInterval(timerIntervalMs);
	connect(&timer_, &QTimer::timeout, this, [this] { onTimerTick(); });
	timer_.start();
}

void DelaySwitchDock::refreshButton()
{
	const bool disabled = delaysDisabled.load();
	button_->setChecked(disabled);
	button_->setText(uiText(disabled ? TextId::DelaysOff : TextId::DelaysOn));
	button_->setStyleSheet(QString::fromLatin1(disabled ? delaysOffStyle : delaysOnStyle));
	dumpButton_->setText(uiText(TextId::Dump));
	refreshAutoBackupLine();
}

void DelaySwitchDock::refreshAutoBackupLine()
{
	autoBackupShownVersion_ = status_.version();
	const StatusLine line = status_.line();
	// Only once there is something to tell.
	autoBackupLine_->setVisible(line.shown);
	autoBackupLine_->setText(line.text);
	autoBackupLine_->setStyleSheet(line.failed ? "color: #e05a4a;" : "color: gray;");
}

void DelaySwitchDock::onTimerTick()
{
	delays_.pollToggleKey();
	delays_.pollDumpKey();
	const bool disabled = delaysDisabled.load();
	const int language = currentLanguage().load();
	if (status_.version() != autoBackupShownVersion_)
		refreshAutoBackupLine();
	if (!buttonNeedsRefresh_ && disabled == buttonShownDisabled_ && language == buttonShownLanguage_)
		return;
	buttonNeedsRefresh_ = false;
	buttonShownDisabled_ = disabled;
	buttonShownLanguage_ = language;
	refreshButton();
}

} // namespace kestrel
