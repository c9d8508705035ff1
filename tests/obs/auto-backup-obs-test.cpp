#include "backup/auto-backup-state.h"
#include "backup/fake-obs-config.h"
#include "module/auto-backup-events.h"
#include "ui/auto-backup-status.h"
#include "ui/auto-backups.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <memory>

namespace kestrel::test {
namespace {

using Decision = AutoBackupScheduler::Decision;
using namespace std::chrono_literals;

// The interface thread's event loop, which hands a run's end back to AutoBackups.
void ensureApplication()
{
	static int argc = 1;
	static char name[] = "obs_auto_backup_tests";
	static char *argv[] = {name, nullptr};
	if (!QCoreApplication::instance())
		new QCoreApplication(argc, argv);
}

// A user's OBS configuration with every automatic backup switched on, a backup folder, and a
// clock the test moves by hand. Runs are real backups on their own threads while libobs runs.
struct AutoBackupRig {
	FakeObsConfig obs;
	std::string statePath = (obs.scratch / "config/auto-backup.json").string();
	std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();

	AutoBackupRig()
	{
		ensureApplication();
		obs.addRealisticSetup();
		std::unique_ptr<BackupManager> manager = managerWithSettings();
		manager->autoBackup = {true, true, true, true, 5};
		manager->writeSettings();
	}

	BackupEnvironment environment() const
	{
		BackupEnvironment environment = obs.environment();
		environment.settingsPath = (obs.scratch / "config/cloud-backup.json").string();
		return environment;
	}

	std::unique_ptr<BackupManager> managerWithSettings() const
	{
		auto manager = std::make_unique<BackupManager>(environment());
		manager->loadSettings();
		manager->localPath = obs.backupFolder.string();
		manager->setProvider(ProviderKind::LocalFolder);
		manager->provider().authenticate();
		return manager;
	}

	std::unique_ptr<AutoBackups> autoBackups()
	{
		return std::make_unique<AutoBackups>(environment(), statePath, [this] { return now; });
	}

	size_t backupCount() const
	{
		std::vector<BackupManifest> backups;
		managerWithSettings()->fetchHistory(backups, [](const std::string &) {});
		return backups.size();
	}

	// Waits on the interface thread, as OBS's would run, until the run has ended.
	static void waitForRun(AutoBackups &backups)
	{
		QElapsedTimer waited;
		waited.start();
		while (backups.running() && waited.elapsed() < 60000)
			QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
		ASSERT_FALSE(backups.running()) << "the automatic backup did not end";
	}

	// A change the next backup must store.
	void editScenes(const std::string &text)
	{
		writeFile(obs.scenes / "Untitled.json",
			  R"({"name":"Untitled","sources":[],"note":")" + text + "\"}");
	}

	AutoBackupState state() const { return loadAutoBackupState(statePath); }
};

TEST(AutoBackups, EachEndedStreamRecordingAndExitMakesOneBackup)
{
	AutoBackupRig rig;
	std::unique_ptr<AutoBackups> backups = rig.autoBackups();
	size_t expected = rig.backupCount();

	dispatchAutoBackupEvent(*backups, OBS_FRONTEND_EVENT_STREAMING_STARTED);
	dispatchAutoBackupEvent(*backups, OBS_FRONTEND_EVENT_RECORDING_STARTED);
	EXPECT_FALSE(backups->running()) << "only ends of streams and recordings start a backup";

	const std::pair<obs_frontend_event, const char *> events[] = {
	    {OBS_FRONTEND_EVENT_STREAMING_STOPPED, "stream"},
	    {OBS_FRONTEND_EVENT_RECORDING_STOPPED, "recording"},
	    {OBS_FRONTEND_EVENT_EXIT, "exit"}};
	for (const auto &[event, trigger] : events) {
		SCOPED_TRACE(trigger);
		rig.editScenes(trigger);
		rig.now += 1min;
		dispatchAutoBackupEvent(*backups, event);
		EXPECT_TRUE(backups->running());
		AutoBackupRig::waitForRun(*backups);
		EXPECT_EQ(rig.backupCount(), ++expected);
		const auto outcome = latestAutoBackupOutcome();
		ASSERT_TRUE(outcome);
		EXPECT_EQ(outcome->trigger, trigger);
		EXPECT_TRUE(outcome->ok) << outcome->error;
		EXPECT_GE(outcome->copied, 1) << "the edited scene collection is copied anew";
		EXPECT_EQ(rig.state().lastRun->trigger, trigger) << "the outcome outlives the session";
	}
	EXPECT_FALSE(rig.state().exitUnfinished);

	// At exit with nothing changed, no backup pushes a real one out of the history.
	rig.now += 1min;
	dispatchAutoBackupEvent(*backups, OBS_FRONTEND_EVENT_EXIT);
	AutoBackupRig::waitForRun(*backups);
	EXPECT_EQ(rig.backupCount(), expected);
	EXPECT_TRUE(latestAutoBackupOutcome()->unchanged);

	// A stream's end makes a backup even when nothing changed: the user asked for one.
	rig.now += 1min;
	dispatchAutoBackupEvent(*backups, OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	AutoBackupRig::waitForRun(*backups);
	EXPECT_EQ(rig.backupCount(), expected + 1);
	EXPECT_EQ(latestAutoBackupOutcome()->copied, 0);
}

TEST(AutoBackups, EventsCloseTogetherGiveOneRunAndSwitchedOffEventsNone)
{
	AutoBackupRig rig;
	std::unique_ptr<AutoBackups> backups = rig.autoBackups();
	const size_t before = rig.backupCount();

	EXPECT_EQ(backups->trigger(AutoTrigger::StreamEnded), Decision::Start);
	EXPECT_EQ(backups->trigger(AutoTrigger::RecordingEnded), Decision::Merged) << "during the run";
	AutoBackupRig::waitForRun(*backups);
	rig.now += 2s;
	EXPECT_EQ(backups->trigger(AutoTrigger::RecordingEnded), Decision::Merged) << "just after it";
	EXPECT_EQ(rig.backupCount(), before + 1);

	rig.now += AutoBackupScheduler::kMergeWindow;
	std::unique_ptr<BackupManager> manager = rig.managerWithSettings();
	manager->autoBackup.afterRecording = false;
	manager->writeSettings();
	EXPECT_EQ(backups->trigger(AutoTrigger::RecordingEnded), Decision::Off)
	    << "settings saved in the dialog apply to the next event";
	EXPECT_EQ(backups->trigger(AutoTrigger::StreamEnded), Decision::Start);
	AutoBackupRig::waitForRun(*backups);
	EXPECT_EQ(rig.backupCount(), before + 2);
}

TEST(AutoBackups, RunWhileTheFolderIsBusyWaitsForTheNextEvent)
{
	AutoBackupRig rig;
	std::unique_ptr<AutoBackups> backups = rig.autoBackups();
	const size_t before = rig.backupCount();
	{
		// A backup or restore of the dialog or the command line holds the folder.
		std::unique_ptr<BackupManager> other = rig.managerWithSettings();
		const std::shared_ptr<void> hold = other->provider().holdBackup(0ms);
		ASSERT_TRUE(hold);
		EXPECT_EQ(backups->trigger(AutoTrigger::StreamEnded), Decision::Deferred);
		EXPECT_FALSE(backups->running());
	}
	EXPECT_EQ(rig.backupCount(), before);
	EXPECT_EQ(backups->trigger(AutoTrigger::RecordingEnded), Decision::Start)
	    << "a deferred event does not count as a run to merge with";
	AutoBackupRig::waitForRun(*backups);
	EXPECT_EQ(rig.backupCount(), before + 1);
}

TEST(AutoBackups, ExitBackupGivesUpAtItsLimitAndTheNextStartCompletesIt)
{
	AutoBackupRig rig;
	for (int i = 0; i < 400; ++i)
		writeFile(rig.obs.profiles / "Untitled/extra" / ("file-" + std::to_string(i) + ".ini"),
			  std::string(4096, 'x'));
	std::unique_ptr<AutoBackups> backups = rig.autoBackups();
	const size_t before = rig.backupCount();

	ASSERT_EQ(backups->trigger(AutoTrigger::Exit), Decision::Start);
	EXPECT_TRUE(rig.state().exitUnfinished) << "marked before it runs, in case OBS dies meanwhile";
	// The shutdown may not wait at all: the run is asked to stop before its next file.
	QElapsedTimer stopping;
	stopping.start();
	EXPECT_TRUE(backups->finish(0ms, 30s));
	EXPECT_LT(stopping.elapsed(), 30000);
	EXPECT_FALSE(backups->running());
	const auto stopped = latestAutoBackupOutcome();
	ASSERT_TRUE(stopped);
	EXPECT_FALSE(stopped->ok);
	EXPECT_NE(stopped->error.find("Stopped"), std::string::npos) << stopped->error;
	EXPECT_EQ(rig.backupCount(), before) << "a stopped run publishes nothing";
	EXPECT_TRUE(rig.state().exitUnfinished);
	backups.reset();

	// The next OBS session completes it as soon as OBS has loaded, and counts as the day's.
	backups = rig.autoBackups();
	EXPECT_FALSE(latestAutoBackupOutcome()->ok) << "the failure is shown again after a restart";
	dispatchAutoBackupEvent(*backups, OBS_FRONTEND_EVENT_FINISHED_LOADING);
	ASSERT_TRUE(backups->running());
	AutoBackupRig::waitForRun(*backups);
	EXPECT_EQ(rig.backupCount(), before + 1);
	EXPECT_TRUE(latestAutoBackupOutcome()->ok);
	EXPECT_FALSE(rig.state().exitUnfinished);
	EXPECT_FALSE(rig.state().lastDailyDate.empty());

	// Once a day: a second start on the same day makes none.
	backups = rig.autoBackups();
	EXPECT_EQ(backups->atStart(rig.state().lastDailyDate), Decision::Off);
	EXPECT_EQ(backups->atStart("2999-01-01"), Decision::Start);
	AutoBackupRig::waitForRun(*backups);
	EXPECT_EQ(rig.backupCount(), before + 2);
}

} // namespace
} // namespace kestrel::test
