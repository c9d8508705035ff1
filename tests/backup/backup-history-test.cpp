#include "backup/backup-history.h"
#include "backup/manifest.h"
#include "backup/media-policy.h"
#include "backup/run-steps.h"
#include "platform/sha256.h"

#include "fake-obs-config.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::FakeObsConfig;
using test::readFile;
using test::writeFile;

const RunLog kQuiet = [](const std::string &) {};

BackupManifest published(const FakeObsConfig &obs)
{
	return manifestFromJson(readFile(obs.backupFolder / "manifest.json"));
}

// Every file the manifest names is stored with the size and hash it lists.
void expectWhole(const FakeObsConfig &obs, const BackupManifest &manifest)
{
	for (const BackupEntry *entry : entriesInRunOrder(manifest)) {
		const fs::path stored = obs.backupFolder.parent_path() / entry->remotePath;
		EXPECT_EQ(platform::sha256Hex(readFile(stored)), entry->sha256) << entry->remotePath;
		EXPECT_EQ(static_cast<int64_t>(fs::file_size(stored)), entry->size) << entry->remotePath;
	}
}

// Inode and change time of every stored file but the manifests.
std::map<std::string, std::pair<ino_t, int64_t>> storedFiles(const fs::path &folder)
{
	std::map<std::string, std::pair<ino_t, int64_t>> files;
	for (const auto &item : fs::recursive_directory_iterator(folder)) {
		const std::string relative = item.path().lexically_relative(folder).string();
		if (!item.is_regular_file() || relative == "manifest.json" ||
		    relative.rfind("history/", 0) == 0)
			continue;
		struct stat info {};
		stat(item.path().c_str(), &info);
		files[relative] = {info.st_ino, info.st_mtim.tv_sec * 1'000'000'000ll + info.st_mtim.tv_nsec};
	}
	return files;
}

TEST(BackupUnit, UnchangedRepeatRewritesNothingButTheManifest)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	fs::remove(obs.scenes / "old.json");
	auto manager = obs.manager();
	ASSERT_TRUE(manager->runBackup(nullptr, kQuiet).success);
	const auto before = storedFiles(obs.backupFolder);
	// Times as earlier runs stored them, or every file would need its hash checked again.
	const BackupManifest first = published(obs);
	for (const BackupEntry *entry : entriesInRunOrder(first))
		EXPECT_EQ(entry->modified, std::chrono::duration_cast<std::chrono::nanoseconds>(
					       fs::last_write_time(entry->originalLocal).time_since_epoch())
					       .count())
		    << entry->originalLocal;
	for (const char *readable : {"manifest.json", "plugin/INSTALL.txt", "plugin/install.sh"})
		EXPECT_EQ(fs::status(obs.backupFolder / readable).permissions() & fs::perms::others_read,
			  fs::perms::others_read)
		    << readable;

	// Same content under a new time is confirmed by its hash and not copied either.
	fs::last_write_time(obs.home / "Videos/intro.mp4", fs::file_time_type::clock::now());
	std::vector<std::string> log;
	const BackupSummary repeat =
	    obs.manager()->runBackup(nullptr, [&](const std::string &line) { log.push_back(line); });
	EXPECT_TRUE(repeat.success);
	EXPECT_EQ(repeat.done, 10);
	EXPECT_EQ(repeat.unchanged, 10);
	EXPECT_EQ(storedFiles(obs.backupFolder), before);
	expectWhole(obs, published(obs));
	EXPECT_EQ(std::count(log.begin(), log.end(), "Unchanged: intro.mp4 (9/10)"), 1);
	EXPECT_EQ(std::count_if(log.begin(), log.end(),
				[](const std::string &line) { return line.rfind("Uploading: ", 0) == 0; }),
		  0);
	EXPECT_EQ(log.back(), "Backup complete. 10 files: 0 copied, 10 unchanged, 0 skipped.");

	// One changed file: the honest count of each.
	writeFile(obs.home / "Pictures/logo.png", "PNG logo, new");
	log.clear();
	const BackupSummary changed =
	    obs.manager()->runBackup(nullptr, [&](const std::string &line) { log.push_back(line); });
	EXPECT_EQ(changed.unchanged, 9);
	EXPECT_NE(std::find(log.begin(), log.end(), "Uploading: logo.png (8/10)"), log.end());
	EXPECT_EQ(log.back(), "Backup complete. 10 files: 1 copied, 9 unchanged, 0 skipped.");
}

// A backup as versions before hashes left it: no hash, time or plug-in files, no history.
void downgradeToHashlessBackup(const FakeObsConfig &obs)
{
	BackupManifest old = published(obs);
	old.pluginFiles.clear();
	for (auto *list : {&old.sceneCollections, &old.profiles, &old.mediaFiles})
		for (auto &entry : *list) {
			entry.sha256.clear();
			entry.modified = 0;
		}
	writeFile(obs.backupFolder / "manifest.json", manifestToJson(old));
	fs::remove_all(obs.backupFolder / "history");
}

TEST(BackupUnit, FirstBackupAfterAnUpgradeCopiesOnlyWhatChanged)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	fs::remove(obs.scenes / "old.json");
	ASSERT_TRUE(obs.manager()->runBackup(nullptr, kQuiet).success);
	downgradeToHashlessBackup(obs);
	const auto before = storedFiles(obs.backupFolder);
	// Changed since: content of the same size, later in time; a stored copy damaged in the
	// folder (same size) is not trusted either.
	writeFile(obs.home / "Videos/intro.mp4", std::string(3000, 'n'));
	fs::last_write_time(obs.home / "Videos/intro.mp4",
			    fs::file_time_type::clock::now() + std::chrono::seconds(5));
	const std::string second = readFile(obs.backupFolder / "scenes/Second.json");
	writeFile(obs.backupFolder / "scenes/Second.json", std::string(second.size(), ' '));

	std::vector<std::string> log;
	const BackupSummary run =
	    obs.manager()->runBackup(nullptr, [&](const std::string &line) { log.push_back(line); });
	EXPECT_TRUE(run.success);
	EXPECT_EQ(run.done, 10);
	EXPECT_EQ(run.unchanged, 8);
	EXPECT_NE(std::find(log.begin(), log.end(), "Uploading: intro.mp4 (9/10)"), log.end());
	EXPECT_NE(std::find(log.begin(), log.end(), "Uploading: Second.json (2/10)"), log.end());
	EXPECT_NE(std::find(log.begin(), log.end(), "Unchanged: logo.png (8/10)"), log.end());
	EXPECT_EQ(log.back(), "Backup complete. 10 files: 2 copied, 8 unchanged, 0 skipped.");
	const BackupManifest now = published(obs);
	expectWhole(obs, now);
	const auto after = storedFiles(obs.backupFolder);
	size_t kept = 0;
	for (const BackupEntry *entry : entriesInRunOrder(now)) {
		const std::string relative =
		    fs::path(entry->remotePath).lexically_relative("obs-cloud-backup").string();
		kept += before.count(relative) && after.at(relative) == before.at(relative);
	}
	EXPECT_EQ(kept, 8u) << "unchanged files keep their stored copies";
	EXPECT_EQ(readFile(obs.backupFolder.parent_path() / now.mediaFiles[1].remotePath),
		  std::string(3000, 'n'));

	// Hashes and times taken once are kept, so the next run needs no stored copy read.
	for (const BackupEntry *entry : entriesInRunOrder(now))
		EXPECT_NE(entry->modified, 0) << entry->remotePath;
}

TEST(BackupUnit, ChangedFileIsStoredBesideTheKeptOneAndHistoryKeepsFive)
{
	FakeObsConfig obs;
	auto manager = obs.manager();
	std::vector<std::string> stamps;
	for (int run = 1; run <= 7; ++run) {
		writeFile(obs.scenes / "Show.json",
			  "{\"name\": \"Show\", \"run\": " + std::to_string(run) + "}");
		ASSERT_TRUE(manager->runBackup(nullptr, kQuiet).success);
		expectWhole(obs, published(obs));
	}
	std::vector<BackupManifest> backups;
	ASSERT_TRUE(manager->fetchHistory(backups, kQuiet));
	ASSERT_EQ(backups.size(), kKeptBackups);
	size_t run = 7;
	for (const auto &backup : backups) {
		ASSERT_EQ(backup.sceneCollections.size(), 1u);
		const auto &scene = backup.sceneCollections[0];
		EXPECT_EQ(readFile(obs.backupFolder.parent_path() / scene.remotePath),
			  "{\"name\": \"Show\", \"run\": " + std::to_string(run--) + "}")
		    << "newest first, each with its own files";
	}
	size_t versions = 0;
	for (const auto &item : fs::directory_iterator(obs.backupFolder / "scenes"))
		versions += item.path().filename().string().rfind("Show.", 0) == 0;
	EXPECT_EQ(versions, kKeptBackups) << "versions no kept backup names are removed";

	// A partial run keeps every older backup.
	fs::create_directories(obs.scenes / "old.json");
	const BackupSummary partial = manager->runBackup(nullptr, kQuiet);
	EXPECT_TRUE(partial.success);
	EXPECT_EQ(partial.skipped, 1);
	ASSERT_TRUE(manager->fetchHistory(backups, kQuiet));
	EXPECT_EQ(backups.size(), kKeptBackups + 1);
}

TEST(BackupUnit, AutomaticRunsKeepTheChosenCountSkipUnchangedBackupsAndStopBetweenFiles)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	fs::remove(obs.scenes / "old.json");
	auto manager = obs.manager();
	manager->autoBackup.kept = 2;
	std::vector<BackupManifest> backups;
	for (int run = 1; run <= 3; ++run) {
		writeFile(obs.scenes / "Show.json", "{\"run\": " + std::to_string(run) + "}");
		const BackupSummary summary = manager->runBackup(nullptr, kQuiet);
		ASSERT_TRUE(summary.success && summary.published);
		EXPECT_EQ(summary.copied(), run == 1 ? summary.done : 1) << "only what changed is copied";
	}
	ASSERT_TRUE(manager->fetchHistory(backups, kQuiet));
	EXPECT_EQ(backups.size(), 2u);

	// Nothing changed: no backup that would push a real one out of the history.
	manager->skipWhenUnchanged = true;
	fs::last_write_time(obs.home / "Videos/intro.mp4", fs::file_time_type::clock::now());
	const BackupSummary unchanged = manager->runBackup(nullptr, kQuiet);
	EXPECT_TRUE(unchanged.success);
	EXPECT_FALSE(unchanged.published);
	EXPECT_EQ(unchanged.copied(), 0);
	ASSERT_TRUE(manager->fetchHistory(backups, kQuiet));
	EXPECT_EQ(backups.front().createdAt, published(obs).createdAt);
	// A file gone counts as a change though every remaining one is unchanged.
	fs::remove(obs.scenes / "Show.json");
	EXPECT_TRUE(manager->runBackup(nullptr, kQuiet).published);

	// A stop asked for ends the run before its next file; the published backup stays.
	writeFile(obs.scenes / "Show.json", "{\"run\": 4}");
	const std::string before = readFile(obs.backupFolder / "manifest.json");
	std::atomic<bool> stop{false};
	manager->stopRequested = &stop;
	int files = 0;
	const RunLog stopAtThird = [&](const std::string &line) {
		if ((line.rfind("Uploading: ", 0) == 0 || line.rfind("Unchanged: ", 0) == 0) && ++files == 3)
			stop = true;
	};
	EXPECT_THROW(manager->runBackup(nullptr, stopAtThird), std::runtime_error);
	EXPECT_EQ(files, 3);
	EXPECT_EQ(readFile(obs.backupFolder / "manifest.json"), before);
	stop = false;
	EXPECT_TRUE(manager->runBackup(nullptr, kQuiet).published) << "the next run completes it";
	expectWhole(obs, published(obs));
}

// The last progress report of a file comes when its copy is done and before its hash: a file
// rewritten there (OBS saving a collection) changed under the copy.
TEST(BackupUnit, FileRewrittenWhileCopiedIsCopiedAgainOrLeftOut)
{
	FakeObsConfig obs;
	writeFile(obs.scenes / "Show.json", R"({"name": "Show"})");
	writeFile(obs.profiles / "Main/basic.ini", "[General]\nName=Main\n");
	ASSERT_TRUE(obs.manager()->runBackup(nullptr, kQuiet).success);
	const std::string first = readFile(obs.backupFolder / "manifest.json");

	int rewrites = 0;
	auto rewritingShow = [&](int times) -> RunProgress {
		return [&, times](const std::string &file, int32_t percent, int32_t, int32_t) {
			if (file == "Show.json" && percent == 100 && rewrites < times)
				writeFile(obs.scenes / "Show.json",
					  "{\"name\": \"Show\", \"take\": \"" +
					      std::string(static_cast<size_t>(++rewrites), 'x') + "\"}");
		};
	};
	writeFile(obs.scenes / "Show.json", R"({"name": "Show", "take": ""})");
	const BackupSummary stopped = obs.manager()->runBackup(rewritingShow(1000), kQuiet);
	EXPECT_EQ(rewrites, 2) << "one copy and one more try";
	EXPECT_TRUE(stopped.success);
	EXPECT_EQ(stopped.skipped, 1);
	ASSERT_EQ(stopped.skippedFiles.size(), 1u);
	EXPECT_NE(stopped.skippedFiles[0].find("it changed while it was copied"), std::string::npos);
	EXPECT_TRUE(published(obs).sceneCollections.empty()) << "a copy that did not hold still is listed";
	EXPECT_EQ(published(obs).profiles.size(), 1u);
	expectWhole(obs, published(obs));

	rewrites = 0;
	const BackupSummary settled = obs.manager()->runBackup(rewritingShow(1), kQuiet);
	EXPECT_TRUE(settled.success);
	EXPECT_EQ(settled.skipped, 0);
	const BackupManifest second = published(obs);
	ASSERT_EQ(second.sceneCollections.size(), 1u);
	EXPECT_EQ(readFile(obs.backupFolder.parent_path() / second.sceneCollections[0].remotePath),
		  readFile(obs.scenes / "Show.json"));
	expectWhole(obs, second);
	EXPECT_NE(readFile(obs.backupFolder / "manifest.json"), first);
}

// Rewritten in the middle of its copy, most likely after its hash was taken (the largest file
// is hashed first, while the small ones ahead of it are copied): copied again, never mixed.
TEST(BackupUnit, FileRewrittenInTheMiddleOfItsCopyIsCopiedAgain)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	fs::remove(obs.scenes / "old.json");
	for (int f = 0; f < 300; ++f)
		writeFile(obs.profiles / "Main" / ("extra" + std::to_string(f) + ".ini"), "[General]\n");
	const fs::path intro = obs.home / "Videos/intro.mp4";
	writeFile(intro, std::string(20 << 20, '1'));
	bool rewritten = false;
	const BackupSummary run = obs.manager()->runBackup(
	    [&](const std::string &file, int32_t percent, int32_t, int32_t) {
		    if (file == "intro.mp4" && percent < 100 && !rewritten) {
			    rewritten = true;
			    writeFile(intro, std::string(20 << 20, '2'));
		    }
	    },
	    kQuiet);
	EXPECT_TRUE(rewritten);
	EXPECT_EQ(run.skipped, 0);
	const BackupManifest backup = published(obs);
	expectWhole(obs, backup);
	const auto stored = std::find_if(backup.mediaFiles.begin(), backup.mediaFiles.end(),
					 [](const BackupEntry &media) { return media.name == "intro.mp4"; });
	ASSERT_NE(stored, backup.mediaFiles.end());
	EXPECT_TRUE(readFile(obs.backupFolder.parent_path() / stored->remotePath) == readFile(intro));
}

// Backs up in a child process that kills itself at the `killAt`-th progress report.
void backUpAndDie(const FakeObsConfig &obs, int killAt)
{
	const pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0) {
		int reports = 0;
		obs.manager()->runBackup(
		    [&](const std::string &, int32_t, int32_t, int32_t) {
			    if (++reports == killAt)
				    raise(SIGKILL);
		    },
		    kQuiet);
		raise(SIGKILL); // after the manifest: the run was complete
	}
	int status = 0;
	waitpid(child, &status, 0);
	ASSERT_TRUE(WIFSIGNALED(status));
}

TEST(BackupUnit, KillAtAnyPointLeavesOneWholeBackupToRestore)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	fs::remove(obs.scenes / "old.json");
	// Large enough to report progress inside the file.
	writeFile(obs.home / "Videos/intro.mp4", std::string(20 << 20, '1'));
	ASSERT_TRUE(obs.manager()->runBackup(nullptr, kQuiet).success);
	const std::string first = readFile(obs.backupFolder / "manifest.json");

	writeFile(obs.home / "Videos/intro.mp4", std::string(20 << 20, '2'));
	writeFile(obs.scenes / "Second.json", R"({"name": "Second", "changed": true})");
	writeFile(obs.profiles / "Main/basic.ini", "[General]\nName=Main changed\n");
	// Reports: one per file, two for intro.mp4 (80 % and 100 %), the 9th file; the last one
	// comes before the manifest.
	for (int killAt : {1, 5, 9, 10, 11}) {
		backUpAndDie(obs, killAt);
		EXPECT_EQ(readFile(obs.backupFolder / "manifest.json"), first) << "killed at " << killAt;
		expectWhole(obs, published(obs));
	}

	// A restore now gives the first run, whole, on another computer.
	const fs::path bob = obs.scratch / "home/bob";
	BackupEnvironment environment = obs.environment();
	environment.homeFolder = bob.string();
	environment.obsPaths = obsPathsIn((bob / ".config/obs-studio").string());
	BackupManager restorer(environment);
	restorer.localPath = obs.backupFolder.string();
	restorer.setProvider(ProviderKind::LocalFolder);
	const BackupSummary restored = restorer.runRestore(published(obs), nullptr, kQuiet);
	EXPECT_EQ(restored.skipped, 0);
	EXPECT_EQ(readFile(bob / "Videos/intro.mp4"), std::string(20 << 20, '1'));
	EXPECT_EQ(readFile(bob / ".config/obs-studio/basic/profiles/Main/basic.ini").find("changed"),
		  std::string::npos);

	backUpAndDie(obs, 1000);
	const BackupManifest second = published(obs);
	EXPECT_NE(readFile(obs.backupFolder / "manifest.json"), first);
	expectWhole(obs, second);
	EXPECT_EQ(second.mediaFiles.size(), 3u);
}

TEST(BackupUnit, OneRunAtATimeAndADeadRunDoesNotBlock)
{
	FakeObsConfig obs;
	writeFile(obs.scenes / "a.json", "{}");
	auto holder = obs.manager();
	{
		const auto held = holder->provider().holdBackup(std::chrono::milliseconds(0));
		ASSERT_TRUE(held);
		const BackupSummary refused = obs.manager()->runBackup(nullptr, kQuiet);
		EXPECT_FALSE(refused.success);
		EXPECT_EQ(refused.message, "Another backup or restore is using " + obs.backupFolder.string() +
					       ": try again when it has finished.");
		EXPECT_FALSE(fs::exists(obs.backupFolder / "manifest.json"));
	}

	// A holder killed while it holds the backup leaves nothing that blocks.
	const pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0) {
		const auto held = obs.manager()->provider().holdBackup(std::chrono::milliseconds(0));
		raise(SIGKILL);
	}
	waitpid(child, nullptr, 0);
	const auto start = std::chrono::steady_clock::now();
	EXPECT_TRUE(obs.manager()->runBackup(nullptr, kQuiet).success);
	EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

	// Two runs of two configurations at once: one waits for the other, the result is one whole.
	FakeObsConfig other;
	writeFile(other.scenes / "b.json", R"({"name": "B"})");
	writeFile(other.profiles / "P/basic.ini", "[General]\n");
	std::vector<pid_t> runs;
	for (const FakeObsConfig *config : {&obs, &other}) {
		const pid_t run = fork();
		if (run == 0) {
			BackupEnvironment environment = config->environment();
			BackupManager manager(environment);
			manager.localPath = obs.backupFolder.string();
			manager.setProvider(ProviderKind::LocalFolder);
			_exit(manager.runBackup(nullptr, kQuiet).success ? 0 : 1);
		}
		runs.push_back(run);
	}
	for (const pid_t run : runs) {
		int status = 0;
		waitpid(run, &status, 0);
		EXPECT_EQ(WEXITSTATUS(status), 0);
	}
	const BackupManifest result = published(obs);
	expectWhole(obs, result);
	EXPECT_TRUE(result.profiles.empty() ? result.sceneCollections.at(0).name == "a.json"
					    : result.sceneCollections.at(0).name == "b.json");
}

TEST(BackupUnit, RestoreSkipsAStoredCopyThatDoesNotMatch)
{
	FakeObsConfig obs;
	writeFile(obs.profiles / "Main/basic.ini", "[General]\nName=Main\n");
	writeFile(obs.profiles / "Main/service.json", R"({"key": "1"})");
	ASSERT_TRUE(obs.manager()->runBackup(nullptr, kQuiet).success);
	writeFile(obs.backupFolder / "profiles/Main/basic.ini", "[General]\nName=Evil\n");
	writeFile(obs.backupFolder / "profiles/Main/service.json", "{}");
	writeFile(obs.profiles / "Main/basic.ini", "local");
	writeFile(obs.profiles / "Main/service.json", "local");

	std::vector<std::string> lines;
	const BackupSummary summary = obs.manager()->runRestore(
	    published(obs), nullptr, [&](const std::string &line) { lines.push_back(line); });
	EXPECT_EQ(summary.done, 0);
	EXPECT_EQ(summary.skipped, 2);
	EXPECT_EQ(readFile(obs.profiles / "Main/basic.ini"), "local") << "the destination stays as it was";
	EXPECT_NE(std::find(lines.begin(), lines.end(),
			    "  Skipped (error): stored copy does not match the backup's SHA-256"),
		  lines.end());
	EXPECT_NE(std::find(lines.begin(), lines.end(),
			    "  Skipped (error): stored copy has 2 bytes, the backup lists 12"),
		  lines.end());
	EXPECT_EQ(std::distance(fs::directory_iterator(obs.profiles / "Main"), fs::directory_iterator()), 2)
	    << "no rejected copy is left behind";
}

TEST(BackupUnit, MediaAreRegularFilesOutsideSystemAndHiddenFolders)
{
	FakeObsConfig obs;
	const std::string home = obs.home.string(), config = obs.config.string();
	writeFile(obs.home / ".ssh/id_ed25519", "secret");
	writeFile(obs.home / "Videos/clip.mp4", "clip");
	writeFile(obs.config / "overlays/frame.png", "frame");
	fs::create_directories(obs.home / "Pictures");
	fs::create_symlink(obs.home / ".ssh/id_ed25519", obs.home / "Pictures/key.png");
	EXPECT_EQ(mediaRefusal(home + "/Videos/clip.mp4", home, config), "");
	EXPECT_EQ(mediaRefusal(config + "/overlays/frame.png", home, config), "") << "OBS's own folder";
	EXPECT_EQ(mediaRefusal(home + "/.ssh/id_ed25519", home, config),
		  "inside the hidden folder " + home + "/.ssh");
	EXPECT_EQ(mediaRefusal(home + "/Pictures/key.png", home, config),
		  "inside the hidden folder " + home + "/.ssh");
	EXPECT_EQ(mediaRefusal(home + "/Videos/../.ssh/id_ed25519", home, config),
		  "inside the hidden folder " + home + "/.ssh");
	EXPECT_EQ(mediaRefusal("/proc/self/environ", home, config), "inside the system folder /proc");
	EXPECT_EQ(mediaRefusal("/etc/hostname", home, config), "inside the system folder /etc");
	EXPECT_EQ(mediaRefusal(home + "/Videos", home, config), "not a regular file");
	EXPECT_EQ(mediaRefusal(home + "/Videos/gone.mp4", home, config), "not found");
}

} // namespace
} // namespace kestrel
