#include "backup/backup-manager.h"
#include "obs-harness.h"
#include "synthetic-obs-home.h"
#include "ui/auto-backup-status.h"
#include "ui/auto-backups.h"

#include <benchmark/benchmark.h>
#include <obs.hpp>

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <thread>

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::ObsHarness;

constexpr uint32_t kFps = 60;

// What OBS itself counts: frames rendered, and frames missed because rendering came late.
struct FrameCounts {
	uint32_t total = obs_get_total_frames();
	uint32_t lagged = obs_get_lagged_frames();
};

// The synthetic configuration with "after each stream ends" on, backed up once already.
BackupEnvironment preparedEnvironment(const fs::path &backupFolder)
{
	BackupEnvironment environment = syntheticEnvironment();
	environment.settingsPath = (workFolder() / "plugin_config/cloud-backup.json").string();
	BackupManager manager(environment);
	manager.localPath = backupFolder.string();
	manager.autoBackup.afterStream = true;
	manager.setProvider(ProviderKind::LocalFolder);
	manager.writeSettings();
	manager.provider().authenticate();
	manager.runBackup(nullptr, [](const std::string &) {});
	return environment;
}

// An automatic backup of the unchanged configuration (2,000 files, 1 GB) while OBS renders
// 1280x720 at 60 fps, as after a stream ends. The time is the run's, from the event to its end;
// the counters give OBS's "frames missed due to rendering lag" over the run, and over the same
// time right after it with no backup, side by side.
void BM_AutoBackupBesideObsRendering(benchmark::State &state)
{
	if (!ObsHarness::setVideo(1280, 720, kFps)) {
		state.SkipWithError("no OpenGL video here");
		return;
	}
	OBSSourceAutoRelease picture =
	    obs_source_create(ObsHarness::testVideoSourceId(), "picture", nullptr, nullptr);
	test::testPictureOf(picture).cycle = true;
	obs_set_output_source(0, picture);

	const fs::path backupFolder = workFolder() / "auto-backup";
	const BackupEnvironment environment = preparedEnvironment(backupFolder);
	Clock::time_point now = Clock::now();
	AutoBackups backups(environment, (workFolder() / "plugin_config/auto-backup.json").string(),
			    [&now] { return now; });
	double runSeconds = 0;
	double missedDuring = 0, missedIdle = 0, renderedDuring = 0;
	for (auto _ : state) {
		now += std::chrono::minutes(1);
		const FrameCounts before;
		const auto start = Clock::now();
		if (backups.trigger(AutoTrigger::StreamEnded) != AutoBackupScheduler::Decision::Start) {
			state.SkipWithError("the automatic backup did not start");
			break;
		}
		// The interface thread's loop, as OBS's would run it.
		while (backups.running())
			QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
		const std::chrono::duration<double> took = Clock::now() - start;
		const FrameCounts after;
		std::this_thread::sleep_for(took);
		const FrameCounts idle;
		state.SetIterationTime(took.count());
		runSeconds += took.count();
		missedDuring += after.lagged - before.lagged;
		renderedDuring += after.total - before.total;
		missedIdle += idle.lagged - after.lagged;
	}
	const auto outcome = latestAutoBackupOutcome();
	if (!outcome || !outcome->ok || outcome->copied != 0)
		state.SkipWithError("the run did not back up the unchanged configuration");
	const auto iterations = static_cast<double>(state.iterations());
	state.counters["frames_missed_during_backup"] = missedDuring / iterations;
	state.counters["frames_missed_same_time_idle"] = missedIdle / iterations;
	state.counters["frames_rendered_during_backup"] = renderedDuring / iterations;
	state.counters["expected_frames"] = runSeconds / iterations * kFps;
	obs_set_output_source(0, nullptr);
	fs::remove_all(backupFolder);
}
BENCHMARK(BM_AutoBackupBesideObsRendering)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
} // namespace kestrel::bench

int main(int argc, char **argv)
{
	QCoreApplication application(argc, argv);
	benchmark::Initialize(&argc, argv);
	std::string error;
	if (!kestrel::test::ObsHarness::start(error)) {
		std::fprintf(stderr, "libobs harness did not start: %s\n", error.c_str());
		return 1;
	}
	benchmark::RunSpecifiedBenchmarks();
	kestrel::test::ObsHarness::stop();
	return 0;
}
