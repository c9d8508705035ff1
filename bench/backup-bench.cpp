#include "backup/backup-manager.h"
#include "backup/obs-paths.h"
#include "synthetic-obs-home.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kestrel::bench::syntheticEnvironment;
using kestrel::bench::syntheticHome;
using kestrel::bench::workFolder;
using kestrel::bench::writeFile;

double secondsSince(Clock::time_point start)
{
	return std::chrono::duration<double>(Clock::now() - start).count();
}

// One backup run into `target`, timed from its start to its end.
double timeBackupInto(const fs::path &target, kestrel::BackupSummary &summary)
{
	kestrel::BackupManager manager(syntheticEnvironment());
	manager.localPath = target.string();
	manager.setProvider(kestrel::ProviderKind::LocalFolder);
	manager.provider().authenticate();
	const auto start = Clock::now();
	summary = manager.runBackup(nullptr, [](const std::string &) {});
	return secondsSince(start);
}

// Each iteration copies the tree with cp -r and runs the backup of the same tree, in turns
// first and second; each starts from its own output removed and synced. The reported time is
// the backup's; the counter "ratio_vs_cp" compares the totals.
void BM_BackupVsCp(benchmark::State &state)
{
	const fs::path home = syntheticHome();
	const fs::path backupTarget = workFolder() / "backup";
	const fs::path cpTarget = workFolder() / "cp-copy";
	const std::string cp = "cp -r '" + home.string() + "' '" + cpTarget.string() + "'";
	// Each run starts from the same state: neither copy on disk, everything written back.
	auto clearTargets = [&] {
		fs::remove_all(cpTarget);
		fs::remove_all(backupTarget);
		sync();
	};
	auto timeCp = [&] {
		clearTargets();
		const auto start = Clock::now();
		if (std::system(cp.c_str()) != 0)
			state.SkipWithError("cp -r failed");
		return secondsSince(start);
	};
	kestrel::BackupSummary summary;
	auto timeBackup = [&] {
		clearTargets();
		return timeBackupInto(backupTarget, summary);
	};
	double backupSeconds = 0, cpSeconds = 0;
	bool cpFirst = true;
	for (auto _ : state) {
		double backupTime = 0;
		if (cpFirst) {
			cpSeconds += timeCp();
			backupTime = timeBackup();
		} else {
			backupTime = timeBackup();
			cpSeconds += timeCp();
		}
		cpFirst = !cpFirst;
		state.SetIterationTime(backupTime);
		backupSeconds += backupTime;
	}
	if (summary.done != 2000 + 20)
		state.SkipWithError("the backup did not copy every file");
	state.counters["cp_seconds"] = cpSeconds / static_cast<double>(state.iterations());
	state.counters["ratio_vs_cp"] = backupSeconds / cpSeconds;
	fs::remove_all(backupTarget);
	fs::remove_all(cpTarget);
}
BENCHMARK(BM_BackupVsCp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

// The first run and an unchanged repeat of the backup next to the same two runs of rsync -a
// (which skips unchanged files by size and time) on the same tree. The reported time is the
// backup's first run; the counters give both runs as ratios to rsync's.
void BM_BackupVsRsync(benchmark::State &state)
{
	const fs::path home = syntheticHome();
	const fs::path backupTarget = workFolder() / "backup";
	const fs::path rsyncTarget = workFolder() / "rsync-copy";
	const std::string rsync = "rsync -a '" + home.string() + "/' '" + rsyncTarget.string() + "/'";
	auto timeRsync = [&] {
		const auto start = Clock::now();
		if (std::system(rsync.c_str()) != 0)
			state.SkipWithError("rsync -a failed");
		return secondsSince(start);
	};
	kestrel::BackupSummary summary;
	double rsyncFirst = 0, rsyncRepeat = 0, backupFirst = 0, backupRepeat = 0;
	for (auto _ : state) {
		fs::remove_all(rsyncTarget);
		fs::remove_all(backupTarget);
		sync();
		rsyncFirst += timeRsync();
		rsyncRepeat += timeRsync();
		fs::remove_all(rsyncTarget);
		sync();
		const double first = timeBackupInto(backupTarget, summary);
		backupRepeat += timeBackupInto(backupTarget, summary);
		state.SetIterationTime(first);
		backupFirst += first;
	}
	if (summary.done != 2000 + 20)
		state.SkipWithError("the backup did not store every file");
	const auto iterations = static_cast<double>(state.iterations());
	state.counters["rsync_first_s"] = rsyncFirst / iterations;
	state.counters["rsync_repeat_s"] = rsyncRepeat / iterations;
	state.counters["repeat_s"] = backupRepeat / iterations;
	state.counters["first_vs_rsync"] = backupFirst / rsyncFirst;
	state.counters["repeat_vs_rsync"] = backupRepeat / rsyncRepeat;
	fs::remove_all(backupTarget);
	fs::remove_all(rsyncTarget);
}
BENCHMARK(BM_BackupVsRsync)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A 20 MB scene collection of image sources whose settings name files from a pool of 600
// paths, half of which exist.
const fs::path &largeCollection()
{
	static const fs::path file = [] {
		const fs::path folder = workFolder() / "large";
		for (int i = 0; i < 300; ++i)
			writeFile(folder / "media" / ("file" + std::to_string(i) + ".png"), "x");
		nlohmann::json sources = nlohmann::json::array();
		// Stored indented by 4 as OBS does; the compact size is about three quarters of that.
		for (size_t s = 0, compact = 0; compact < 13'200'000; ++s) {
			const std::string path =
			    (folder / "media" / ("file" + std::to_string(s % 600) + ".png")).string();
			sources.push_back(
			    {{"id", "image_source"},
			     {"name", "Image " + std::to_string(s)},
			     {"settings", {{"file", path}, {"unload", false}, {"linear_alpha", true}}},
			     {"filters", {{{"id", "color_filter"}, {"settings", {{"opacity", 0.9}}}}}},
			     {"volume", 1.0},
			     {"private_settings", {{"note", std::string(400, 'n')}}}});
			compact += sources.back().dump().size();
		}
		const fs::path scene = folder / "Big.json";
		writeFile(scene, nlohmann::json({{"name", "Big"}, {"sources", sources}}).dump(4));
		return scene;
	}();
	return file;
}

void BM_ScanSceneMedia20MB(benchmark::State &state)
{
	const std::string scene = largeCollection().string();
	size_t found = 0;
	for (auto _ : state) {
		found = kestrel::scanSceneMedia(scene).size();
		benchmark::DoNotOptimize(found);
	}
	if (found != 300)
		state.SkipWithError("unexpected media count");
	state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(scene)));
	state.counters["file_MB"] = static_cast<double>(fs::file_size(scene)) / 1e6;
}
BENCHMARK(BM_ScanSceneMedia20MB)->Unit(benchmark::kMillisecond);

// The floor for the scan: reading the file and parsing it into a document, nothing else.
void BM_BareJsonParse20MB(benchmark::State &state)
{
	const fs::path scene = largeCollection();
	for (auto _ : state) {
		std::ifstream in(scene, std::ios::binary);
		const std::string text(std::istreambuf_iterator<char>(in), {});
		auto document = nlohmann::json::parse(text);
		benchmark::DoNotOptimize(document);
	}
	state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(scene)));
}
BENCHMARK(BM_BareJsonParse20MB)->Unit(benchmark::kMillisecond);

} // namespace
