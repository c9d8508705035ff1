#include "delay-switch-sources.h"

#include "common/ui-text.h"
#include "delay/delays-disabled.h"
#include "delay/switch/delay-switch-dock.h"
#include "delay/switch/delay-switch.h"
#include "delay/switch/dock-placement.h"
#include "support/scratch-settings-store.h"
#include "ui/auto-backup-status.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>

#include <array>
#include <functional>
#include <memory>
#include <thread>

namespace kestrel::test {
namespace {

// Button texts per language: delays on, delays off.
const std::array<std::array<const char *, 2>, 5> buttonTexts{{
    {"🟢 Delays ON — click to bypass", "🔴 Delays OFF (live) — click to enable"},
    {"🟢 Delays ACTIVOS — clic para apagar", "🔴 Delays APAGADOS (en vivo) — clic para activar"},
    {"🟢 Delays ACTIFS — cliquez pour couper", "🔴 Delays COUPÉS (direct) — cliquez pour activer"},
    {"🟢 延迟已开启 — 点击关闭", "🔴 延迟已关闭（直播）— 点击开启"},
    {"🟢 ディレイ ON — クリックで無効化", "🔴 ディレイ OFF（ライブ）— クリックで有効化"},
}};

// Runs the event loop until `done` or `limitMs`; returns the milliseconds it took.
qint64 processEventsUntil(const std::function<bool()> &done, int limitMs)
{
	QElapsedTimer clock;
	clock.start();
	while (!done() && clock.elapsed() < limitMs)
		QApplication::processEvents(QEventLoop::AllEvents, 5);
	return clock.elapsed();
}

void processEventsFor(int ms)
{
	processEventsUntil([] { return false; }, ms);
}

class DelaySwitchDockTest : public ::testing::Test {
protected:
	static void SetUpTestSuite()
	{
		qputenv("QT_QPA_PLATFORM", "offscreen");
		static int argc = 1;
		static char name[] = "obs_dock_tests";
		static char *argv[] = {name, nullptr};
		application = std::make_unique<QApplication>(argc, argv);
	}
	static void TearDownTestSuite() { application.reset(); }

	void SetUp() override
	{
		waitOutDebounce();
		delaysDisabled.store(false);
		currentLanguage().store(0);
		dock = std::make_unique<DelaySwitchDock>(delaySwitch(), autoBackupStatusFeed);
		dock->show();
		processEventsFor(60);
	}
	void TearDown() override { dock.reset(); }

	QString shownText() const { return dock->button()->text(); }

	static inline std::unique_ptr<QApplication> application;
	std::unique_ptr<DelaySwitchDock> dock;
};

TEST_F(DelaySwitchDockTest, ShowsTheSwitchStateInEachLanguage)
{
	EXPECT_EQ(dock->objectName(), "WrenfieldDelaySwitch");
	EXPECT_TRUE(dock->button()->isCheckable());
	EXPECT_EQ(dock->button()->cursor().shape(), Qt::PointingHandCursor);
	EXPECT_GE(dock->button()->height(), 52);
	for (int language = 0; language < 5; ++language) {
		for (bool disabled : {false, true}) {
			SCOPED_TRACE(testing::Message()
				     << "language " << language << ", delays off " << disabled);
			currentLanguage().store(language);
			delaysDisabled.store(disabled);
			processEventsFor(60);
			EXPECT_EQ(shownText(), QString::fromUtf8(buttonTexts[language][disabled]));
			EXPECT_EQ(dock->button()->isChecked(), disabled);
			EXPECT_TRUE(dock->button()->styleSheet().contains(disabled ? "#8a2020" : "#1f7a34"));
		}
	}
}

// One 40 ms tick, plus slack for a busy machine.
constexpr int oneTickMs = 40 + 25;

TEST_F(DelaySwitchDockTest, PicksUpLanguageChangesAndHotkeyTogglesWithinOneTick)
{
	for (int language : {3, 1, 4}) {
		const QString expected = QString::fromUtf8(buttonTexts[language][0]);
		currentLanguage().store(language);
		EXPECT_LE(processEventsUntil([&] { return shownText() == expected; }, 500), oneTickMs)
		    << language;
		EXPECT_EQ(shownText(), expected);
	}
	std::thread hotkeyThread([] { DelaySwitch::onToggleHotkey(&delaySwitch(), 0, nullptr, true); });
	hotkeyThread.join();
	EXPECT_LE(processEventsUntil([&] { return dock->button()->isChecked(); }, 500), oneTickMs);
	EXPECT_EQ(shownText(), QString::fromUtf8(buttonTexts[4][1]));
}

TEST_F(DelaySwitchDockTest, ShowsTheLastAutomaticBackupInOneLineOnceThereIsOne)
{
	QLabel *line = dock->autoBackupLine();
	ASSERT_NE(line, nullptr);
	EXPECT_TRUE(line->isHidden()) << "nothing to tell before the first automatic backup";

	AutoBackupOutcome failed;
	failed.finishedAt = "2026-12-09T21:05:00Z";
	failed.trigger = "stream";
	failed.error = "Error: No space left on device";
	publishAutoBackupOutcome(failed);
	EXPECT_LE(processEventsUntil([&] { return line->isVisible(); }, 500), oneTickMs);
	EXPECT_TRUE(line->text().contains("No space left on device")) << line->text().toStdString();
	EXPECT_FALSE(line->text().contains('\n'));
	EXPECT_TRUE(line->styleSheet().contains("#e05a4a")) << "a failure stands out";

	currentLanguage().store(2);
	AutoBackupOutcome unchanged = failed;
	unchanged.ok = true;
	unchanged.unchanged = true;
	unchanged.error.clear();
	publishAutoBackupOutcome(unchanged);
	EXPECT_LE(
	    processEventsUntil([&] { return line->text().endsWith(uiText(TextId::NothingChanged)); }, 500),
	    oneTickMs);
	EXPECT_TRUE(line->text().startsWith(QString::fromUtf8("Dernière sauvegarde automatique")));
}

TEST_F(DelaySwitchDockTest, ClickTogglesTheFiltersAndADroppedClickSnapsBack)
{
	SourcesWithFilters sources;
	sources.add("Kestrel dock game", {"orv_screen_delay_audio", "orv_screen_delay_duck"});
	dock->button()->click();
	EXPECT_TRUE(delaysDisabled.load());
	EXPECT_EQ(sources.enabledStates(), std::vector<bool>({false, false}));
	EXPECT_TRUE(dock->button()->isChecked());
	EXPECT_EQ(shownText(), QString::fromUtf8(buttonTexts[0][1]));

	dock->button()->click();
	EXPECT_TRUE(delaysDisabled.load()) << "a click within the debounce toggled";
	EXPECT_TRUE(dock->button()->isChecked()) << "the dropped click left the button unchecked";

	waitOutDebounce();
	dock->button()->click();
	EXPECT_FALSE(delaysDisabled.load());
	EXPECT_EQ(sources.enabledStates(), std::vector<bool>({true, true}));
	EXPECT_FALSE(dock->button()->isChecked());
}

const std::array<const char *, 5> dumpTexts{
    "Dump (discard what the delays hold)", "Dump (descartar lo demorado)",
    "Dump (jeter ce que les délais retiennent)", "清空（丢弃延迟中的内容）", "ダンプ（遅延中の内容を破棄）"};

// A click raises the dump count once; a second click within the debounce, or the hotkey, does not.
TEST_F(DelaySwitchDockTest, DumpButtonInEachLanguageDumpsOncePerDebounce)
{
	for (int language = 0; language < 5; ++language) {
		currentLanguage().store(language);
		processEventsFor(60);
		EXPECT_EQ(dock->dumpButton()->text(), QString::fromUtf8(dumpTexts[language])) << language;
	}
	const uint64_t before = delayDumps.load();
	dock->dumpButton()->click();
	dock->dumpButton()->click();
	DelaySwitch::onDumpHotkey(&delaySwitch(), 0, nullptr, true);
	EXPECT_EQ(delayDumps.load(), before + 1);
	EXPECT_FALSE(delaysDisabled.load()) << "a dump leaves the switch as it was";
	waitOutDebounce();
	DelaySwitch::onDumpHotkey(&delaySwitch(), 0, nullptr, false);
	EXPECT_EQ(delayDumps.load(), before + 1) << "a release dumped";
	DelaySwitch::onDumpHotkey(&delaySwitch(), 0, nullptr, true);
	EXPECT_EQ(delayDumps.load(), before + 2);
}

// A main window laid out as OBS leaves a new plug-in dock: hidden and floating.
struct MainWindowWithSwitchDock {
	explicit MainWindowWithSwitchDock(bool withControls)
	{
		window.setCentralWidget(new QWidget);
		if (withControls) {
			auto *controls = new QDockWidget(QStringLiteral("Controls"), &window);
			controls->setObjectName(QStringLiteral("controlsDock"));
			window.addDockWidget(Qt::BottomDockWidgetArea, controls);
		}
		switchDock = new QDockWidget(QStringLiteral("Kestrel — Delays"), &window);
		switchDock->setObjectName(QStringLiteral("wrenfield_delay_switch"));
		switchDock->setWidget(new DelaySwitchDock(delaySwitch(), autoBackupStatusFeed, switchDock));
		window.addDockWidget(Qt::RightDockWidgetArea, switchDock);
		switchDock->setFloating(true);
		switchDock->hide();
		window.resize(1280, 720);
		window.show();
	}
	bool place(QSettings &store)
	{
		return placeDockOnFirstStart(window, switchDock->objectName(), store);
	}

	QMainWindow window;
	QDockWidget *switchDock;
};

TEST_F(DelaySwitchDockTest, FirstStartDocksTheSwitchBesideTheControlsAndLeavesLaterLayoutsAlone)
{
	ScratchSettingsStore settings;
	QSettings store = ScratchSettingsStore::open();
	MainWindowWithSwitchDock obs(true);
	EXPECT_TRUE(obs.place(store));
	processEventsFor(60);
	EXPECT_TRUE(obs.switchDock->isVisible());
	EXPECT_FALSE(obs.switchDock->isFloating());
	EXPECT_EQ(obs.window.dockWidgetArea(obs.switchDock), Qt::BottomDockWidgetArea);
	const auto buttons = obs.switchDock->findChildren<QPushButton *>();
	ASSERT_EQ(buttons.size(), 2);
	for (QPushButton *button : buttons)
		EXPECT_TRUE(button->isVisible() && !button->visibleRegion().isEmpty())
		    << button->text().toStdString();

	// The user closed it: the next start keeps it closed.
	obs.switchDock->hide();
	EXPECT_FALSE(obs.place(store));
	EXPECT_FALSE(obs.switchDock->isVisible());

	// An OBS without a Controls dock gets it at the right.
	store.clear();
	MainWindowWithSwitchDock bare(false);
	EXPECT_TRUE(bare.place(store));
	EXPECT_EQ(bare.window.dockWidgetArea(bare.switchDock), Qt::RightDockWidgetArea);
	EXPECT_TRUE(bare.switchDock->isVisible());
}

} // namespace
} // namespace kestrel::test
