#include "backup/active-collection.h"
#include "backup/backup-history.h"
#include "backup/backup-manager.h"
#include "backup/json-member-text.h"
#include "backup/manifest.h"
#include "backup/path-remap.h"

#include "fake-obs-config.h"
#include "restore-fixtures.h"
#include "support/obs-log-capture.h"
#include "support/unreadable-profile.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <sstream>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::FakeObsConfig;
using test::HandMadeBackup;
using test::ObsLogCapture;
using test::OtherComputer;
using test::readFile;
using test::replaced;
using test::RunLines;
using test::writeFile;

// A backup folder as an attacker would lay it out, next to honest entries that must still
// restore exactly.
TEST(RestoreSafety, CraftedBackupFolderCannotReachOutsideTheHome)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const fs::path root = backup.scratch.root();
	const std::string alice = (root / "home/alice").string(), config = alice + "/.config/obs-studio";
	auto &scenes = backup.manifest.sceneCollections;
	auto &profiles = backup.manifest.profiles;
	auto &media = backup.manifest.mediaFiles;
	const std::string payload = "payload", intro = "intro", fresh = "fresh";
	const std::string scene = R"({"name": "Show\r\n[Hack]\nEvil=1", "sources": [{"file": ")" + alice +
				  R"(/Videos/intro.mp4"}]})";
	const std::string ini = "[General]\nName=Main\n";
	backup.add(scenes, "obs-cloud-backup/scenes/Show.json", config + "/basic/scenes/Show.json", &scene);
	backup.add(scenes, "obs-cloud-backup/scenes/p.json", config + "/basic/scenes/../../../../../.profile",
		   &payload);
	backup.add(profiles, "obs-cloud-backup/profiles/Main/basic.ini",
		   config + "/basic/profiles/Main/basic.ini", &ini);
	backup.add(profiles, "obs-cloud-backup/profiles/Main/../../x", config + "/basic/profiles/Main/x",
		   nullptr);
	backup.add(profiles, "obs-cloud-backup/profiles/P/x.ini",
		   config + "/basic/profiles/P/../../../../../.bashrc", &payload);
	backup.add(media, "obs-cloud-backup/media/1_intro.mp4", alice + "/Videos/intro.mp4", &intro);
	backup.add(media, "obs-cloud-backup/media/2_w.mp4", alice + "\\Videos\\w.mp4", &intro);
	backup.add(media, "obs-cloud-backup/media/3", (root / "escape.txt").string(), &payload);
	backup.add(media, "obs-cloud-backup/media/4", "/etc/kestrel-restore-escape", &payload);
	backup.add(media, "obs-cloud-backup/media/5", alice + "/../../escape-dots.txt", &payload);
	backup.add(media, "obs-cloud-backup/media/6", "relative/escape.txt", &payload);
	backup.add(media, "obs-cloud-backup/media/7", alice + "/.bashrc", &payload);
	backup.add(media, "obs-cloud-backup/media/8", config + "/plugins/evil/bin/64bit/evil.so", &payload);
	backup.add(media, "obs-cloud-backup/media/9", alice + std::string("/Videos/..\0/x", 14), &payload);
	backup.add(media, "obs-cloud-backup/media/10", alice + "/Videos/hostname", nullptr);
	fs::create_symlink(root / "secret.txt", backup.folder / "obs-cloud-backup/media/10");
	backup.add(media, "obs-cloud-backup/linked/s.txt", alice + "/Videos/s.txt", nullptr);
	fs::create_directory_symlink(root / "outside", backup.folder / "obs-cloud-backup/linked");
	backup.add(media, "other/secret.txt", alice + "/Videos/other.txt", &payload);
	backup.add(media, "obs-cloud-backup/media/11", alice + "/Videos/linked.mp4", &fresh);

	writeFile(root / "secret.txt", "secret");
	writeFile(root / "outside/s.txt", "secret");
	writeFile(root / "victim.txt", "victim");
	writeFile(bob.home / ".bashrc", "bob's own");
	fs::create_directories(bob.home / "Videos");
	fs::create_symlink(root / "victim.txt", bob.home / "Videos/linked.mp4");
	writeFile(bob.config / "global.ini", "[Basic]\nSceneCollection=Old\nSceneCollectionFile=Old\n");

	RunLines log;
	const BackupSummary summary =
	    bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, log.callback());
	EXPECT_EQ(summary.total, 18);
	EXPECT_EQ(summary.done, 6);
	EXPECT_EQ(summary.skipped, 12);

	const std::string b = bob.home.string();
	EXPECT_EQ(readFile(bob.config / "basic/scenes/Show.json"), replaced(scene, alice, b));
	EXPECT_EQ(readFile(bob.config / "basic/scenes/.profile"), payload) << "reduced to a file name";
	EXPECT_EQ(readFile(bob.config / "basic/profiles/Main/basic.ini"), ini);
	EXPECT_EQ(readFile(bob.home / "Videos/intro.mp4"), intro);
	EXPECT_EQ(readFile(bob.home / "Videos/w.mp4"), intro) << "Windows separators";
	EXPECT_EQ(readFile(bob.config / "global.ini"),
		  "[Basic]\nSceneCollection=Show__[Hack]_Evil=1\nSceneCollectionFile=Show\n");

	EXPECT_FALSE(fs::exists(root / "escape.txt"));
	EXPECT_FALSE(fs::exists("/etc/kestrel-restore-escape"));
	EXPECT_FALSE(fs::exists(root / "escape-dots.txt"));
	EXPECT_FALSE(fs::exists("relative/escape.txt"));
	EXPECT_FALSE(fs::exists(bob.home / ".profile"));
	EXPECT_EQ(readFile(bob.home / ".bashrc"), "bob's own");
	EXPECT_FALSE(fs::exists(bob.config / "plugins"));
	EXPECT_FALSE(fs::exists(bob.home / "Videos/hostname"));
	EXPECT_FALSE(fs::exists(bob.home / "Videos/s.txt"));
	EXPECT_FALSE(fs::exists(bob.home / "Videos/other.txt"));
	EXPECT_EQ(std::distance(fs::directory_iterator(root / "home"), fs::directory_iterator()), 1)
	    << "nothing next to the home folder";
	EXPECT_EQ(readFile(root / "victim.txt"), "victim") << "a link at the destination is replaced";
	EXPECT_FALSE(fs::is_symlink(bob.home / "Videos/linked.mp4"));
	EXPECT_EQ(readFile(bob.home / "Videos/linked.mp4"), fresh);

	const std::string outside = "outside the home folder; restore it with --outside-home";
	for (const std::string &line : std::vector<std::string>{
		 "  Skipped (unsafe path): obs-cloud-backup/profiles/Main/../../x",
		 "  Skipped (not in a profile folder): " + config +
		     "/basic/profiles/P/../../../../../.bashrc",
		 "  Skipped (" + outside + "): " + (root / "escape.txt").string(),
		 "  Skipped (" + outside + "): /etc/kestrel-restore-escape",
		 "  Skipped (outside the home folder): " + alice + "/../../escape-dots.txt",
		 "  Skipped (" + outside + "): relative/escape.txt",
		 "  Skipped (hidden file or folder of the home): " + alice + "/.bashrc",
		 "  Skipped (inside OBS's plug-in folder): " + config + "/plugins/evil/bin/64bit/evil.so",
		 "  Skipped (control characters in the path): " + alice + std::string("/Videos/..\0/x", 14),
		 "  Skipped (error): Refused a link in the backup folder: obs-cloud-backup/media/10",
		 "  Skipped (error): Refused a link in the backup folder: obs-cloud-backup/linked/s.txt",
		 "  Skipped (unsafe path): other/secret.txt"})
		EXPECT_TRUE(log.has(line)) << line;

	// Media from outside the old home goes back only on request, and then still not relatively
	// or into hidden folders.
	media = {};
	backup.add(media, "obs-cloud-backup/media/3", (root / "escape.txt").string(), &payload);
	backup.add(media, "obs-cloud-backup/media/6", "relative/escape.txt", &payload);
	backup.add(media, "obs-cloud-backup/media/12", (root / ".hidden/x").string(), &payload);
	auto manager = bob.manager(backup.folder);
	manager->restoreOutsideHome = true;
	log.lines.clear();
	EXPECT_EQ(manager->runRestore(backup.manifest, nullptr, log.callback()).done, 4);
	EXPECT_EQ(readFile(root / "escape.txt"), payload);
	EXPECT_TRUE(log.has("  Skipped (not an absolute path): relative/escape.txt"));
	EXPECT_TRUE(log.has("  Skipped (hidden file or folder): " + (root / ".hidden/x").string()));
}

TEST(RestoreSafety, UsersFolderInsideAHomeBelongsToThatHome)
{
	EXPECT_EQ(userHomePrefix("/home/alice/Work/users/team/logo.png"), "/home/alice");
	EXPECT_EQ(remapUserPath("/home/alice/Work/users/team/logo.png", "/home/bob"),
		  "/home/bob/Work/users/team/logo.png");
	EXPECT_EQ(remapUserPath("C:\\Users\\Alice\\home\\x", "C:\\Users\\Bob"), "C:\\Users\\Bob\\home\\x");

	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string alice = (backup.scratch / "home/alice").string();
	const std::string logo = alice + "/Work/users/team/logo.png";
	const std::string scene = R"({"name": "S", "file": ")" + logo + "\"}";
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/S.json",
		   alice + "/.config/obs-studio/basic/scenes/S.json", &scene);
	backup.add(backup.manifest.mediaFiles, "obs-cloud-backup/media/1_logo.png", logo, &scene);
	RunLines log;
	EXPECT_EQ(bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, log.callback()).done, 2);
	const std::string restored = (bob.home / "Work/users/team/logo.png").string();
	EXPECT_TRUE(fs::exists(restored));
	EXPECT_EQ(readFile(bob.config / "basic/scenes/S.json"),
		  R"({"name": "S", "file": ")" + restored + "\"}")
	    << "the scene's reference and the file agree";
}

TEST(RestoreSafety, DeepSceneRestoresUnderANewName)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string alice = (backup.scratch / "home/alice").string();
	const size_t depth = 66000;
	const std::string scene = R"({"name": "Deep", "sources": )" + std::string(depth, '[') + "\"" + alice +
				  "/a.png\"" + std::string(depth, ']') + "}";
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/Deep.json",
		   alice + "/.config/obs-studio/basic/scenes/Deep.json", &scene);
	writeFile(bob.config / "global.ini", "SceneCollection=Old\nSceneCollectionFile=Old\n");
	auto manager = bob.manager(backup.folder);
	manager->restoreCollectionName = "Deep Show";
	RunLines log;
	EXPECT_EQ(manager->runRestore(backup.manifest, nullptr, log.callback()).done, 1);
	const fs::path restored = bob.config / "basic/scenes/Deep_Show.json";
	EXPECT_EQ(readCollectionName(restored.string()), "Deep Show");
	EXPECT_NE(readFile(restored).find(bob.home.string() + "/a.png"), std::string::npos);
	EXPECT_EQ(readFile(bob.config / "global.ini"),
		  "SceneCollection=Deep Show\nSceneCollectionFile=Deep_Show\n");

	// The name member is found by its value, not by how it is spelt, and a reader keeps the last.
	EXPECT_EQ(
	    topLevelString("\xEF\xBB\xBF {\"n\\u0061me\": \"A\", \"x\": {\"name\": \"in\"}, \"name\": \"B\"}",
			   "name"),
	    "B");
	EXPECT_EQ(withTopLevelString(R"({"name": 1, "a": [{"name": "in"}], "name": "x"})", "name", "N"),
		  R"({"name": "N", "a": [{"name": "in"}], "name": "N"})");
	EXPECT_EQ(withTopLevelString("{ }", "name", "N"), R"({"name": "N" })");
	EXPECT_EQ(withTopLevelString(R"({"a": 1})", "name", "N"), R"({"name": "N", "a": 1})");
	EXPECT_EQ(withTopLevelString("[1]", "name", "N"), std::nullopt);
	EXPECT_EQ(withTopLevelString("{\"a\": 1} x", "name", "N"), std::nullopt);
}

TEST(RestoreSafety, UntrustedNumbersAndNamesStayInRange)
{
	const BackupManifest manifest = manifestFromJson(R"({"mediaFiles": [
		{"size": -5}, {"size": -1}, {"size": 5000000000}, {"size": 4.0}, {"name": "kept"}]})");
	std::vector<int64_t> sizes;
	for (const auto &entry : manifest.mediaFiles)
		sizes.push_back(entry.size);
	EXPECT_EQ(sizes, (std::vector<int64_t>{-1, -1, 5000000000, 4, -1}))
	    << "a negative or missing size is unknown";
	for (const char *size : {"1e300", "2.5", "18446744073709551615", "9223372036854775808", "-9.3e18"})
		EXPECT_THROW(manifestFromJson(std::string(R"({"mediaFiles": [{"size": )") + size + "}]}"),
			     DamagedManifest)
		    << size;

	test::ScratchFolder scratch;
	BackupEnvironment environment;
	environment.settingsPath = (scratch / "cloud-backup.json").string();
	BackupManager manager(environment);
	for (const auto &[text, kind] :
	     {std::pair{R"({"provider": 1e300})", ProviderKind::GoogleDrive},
	      std::pair{R"({"provider": 2.0})", ProviderKind::LocalFolder},
	      std::pair{R"({"provider": 4294967298})", ProviderKind::GoogleDrive}}) {
		manager.setProvider(ProviderKind::OneDrive);
		writeFile(environment.settingsPath, text);
		manager.loadSettings();
		EXPECT_EQ(manager.providerKind(), kind) << text;
	}

	EXPECT_EQ(withIniValue("[A]\nName=x\n[B]\n", "Name", "a\r\n[Evil]\nK=1\x7f"),
		  "[A]\nName=a__[Evil]_K=1_\n[B]\n");
	EXPECT_EQ(withIniValue("[A]\n", "Name", "x"), std::nullopt);
}

const RunLog kQuiet = [](const std::string &) {};

BackupManifest published(const fs::path &backupFolder)
{
	return manifestFromJson(readFile(backupFolder / "manifest.json"));
}

// Every file below `folder` (links not followed) with its content, for a before-and-after check.
std::map<std::string, std::string> contentsOf(const fs::path &folder)
{
	std::map<std::string, std::string> files;
	for (const auto &item : fs::recursive_directory_iterator(folder))
		files[item.path().lexically_relative(folder).string()] = item.is_symlink() ? "link"
									 : item.is_regular_file()
									     ? readFile(item.path())
									     : "folder";
	return files;
}

// Links a sync peer planted inside the backup folder: a backup never writes through them, never
// lists or prunes what lies behind them, and leaves them where they are.
TEST(HostileFolder, PlantedLinksAreNeverFollowed)
{
	FakeObsConfig obs;
	writeFile(obs.home / "clip.mp4", "clip");
	writeFile(obs.scenes / "Show.json",
		  R"({"name": "Show", "file": ")" + (obs.home / "clip.mp4").string() + "\"}");
	writeFile(obs.profiles / "Main/basic.ini", "[General]\n");
	ASSERT_TRUE(obs.manager()->runBackup(nullptr, kQuiet).success);
	const fs::path documents = obs.scratch / "Documents", other = obs.scratch / "Other";
	writeFile(documents / "thesis.odt", "years of work");
	writeFile(documents / ".hidden", "hidden");
	writeFile(documents / "sub/notes.txt", "notes");
	writeFile(other / "keep.txt", "keep");
	writeFile(obs.scratch / "outside.json", "{}");
	const auto documentsBefore = contentsOf(documents), otherBefore = contentsOf(other);
	fs::create_directory_symlink(documents, obs.backupFolder / "media/x");
	fs::create_directory_symlink("../../../Documents", obs.backupFolder / "profiles/Other");
	fs::create_symlink(obs.scratch / "outside.json",
			   obs.backupFolder / "history/2000-01-01T00-00-00Z.json");
	fs::rename(obs.backupFolder / "scenes", obs.scratch / "scenes-moved");
	fs::create_directory_symlink(other, obs.backupFolder / "scenes");
	writeFile(obs.backupFolder / "media/sync-conflict (copy).png", "a peer's own file");

	const char *links[] = {"media/x", "profiles/Other", "scenes", "history/2000-01-01T00-00-00Z.json"};
	for (int run = 0; run < 2; ++run) {
		ObsLogCapture obsLog;
		const BackupSummary summary = obs.manager()->runBackup(nullptr, kQuiet);
		EXPECT_TRUE(summary.success);
		EXPECT_EQ(summary.skipped, 1) << "the scene collection cannot go behind a link";
		const std::string refused =
		    (obs.scenes / "Show.json").string() +
		    ": Refused a link in the backup folder: obs-cloud-backup/scenes/Show.";
		EXPECT_EQ(summary.skippedFiles.empty() ? ""
						       : summary.skippedFiles[0].substr(0, refused.size()),
			  refused);
		const auto lines = obsLog.lines();
		for (const char *link : links) {
			const std::string line = "[Kestrel] Left alone a link in the backup folder: " +
						 (obs.backupFolder / link).string();
			EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
						[&](const ObsLogCapture::Line &l) { return l.text == line; }),
				  1)
			    << "reported once a run: " << line;
		}
	}
	EXPECT_EQ(contentsOf(documents), documentsBefore);
	EXPECT_EQ(contentsOf(other), otherBefore);
	EXPECT_EQ(readFile(obs.scratch / "outside.json"), "{}");
	for (const char *link : links)
		EXPECT_TRUE(fs::is_symlink(obs.backupFolder / link)) << link;
	EXPECT_EQ(readFile(obs.backupFolder / "media/sync-conflict (copy).png"), "a peer's own file")
	    << "pruning removes only what a backup made";
}

// The stored copies' modes come from a sync peer: setuid, setgid and world-writable bits stay
// there; restored files get what a new file of the user's gets.
TEST(HostileFolder, RestoredFilesGetTheModeOfANewFile)
{
	for (const auto &[mask, expected] : {std::pair<mode_t, int>{027, 0640}, {0, 0664}}) {
		HandMadeBackup backup;
		OtherComputer bob(backup.scratch.root());
		const std::string config = (backup.scratch / "home/alice/.config/obs-studio").string();
		const std::string scene = R"({"name": "S"})", ini = "[General]\n";
		backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/S.json",
			   config + "/basic/scenes/S.json", &scene);
		backup.add(backup.manifest.profiles, "obs-cloud-backup/profiles/P/basic.ini",
			   config + "/basic/profiles/P/basic.ini", &ini);
		ASSERT_EQ(chmod((backup.folder / "obs-cloud-backup/scenes/S.json").c_str(), 0666), 0);
		ASSERT_EQ(chmod((backup.folder / "obs-cloud-backup/profiles/P/basic.ini").c_str(), 06777), 0);
		const mode_t previous = umask(mask);
		const BackupSummary summary =
		    bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, kQuiet);
		umask(previous);
		EXPECT_EQ(summary.done, 2);
		for (const fs::path &restored :
		     {bob.config / "basic/scenes/S.json", bob.config / "basic/profiles/P/basic.ini"})
			EXPECT_EQ(static_cast<int>(fs::status(restored).permissions()) & 07777, expected)
			    << restored << " with umask " << mask;
	}
}

// OBS's own settings and every plug-in's (the sign-in with its refresh token, obs-websocket's
// password) are never media: a crafted scene cannot copy them into the synced folder, and a
// crafted backup cannot overwrite them.
TEST(HostileFolder, ObsAndPluginSettingsAreNeverMedia)
{
	FakeObsConfig obs;
	const std::string secret = "refresh_token: 1//0g-secret";
	const fs::path own[] = {obs.config / "plugin_config/kestrel/cloud-backup.json",
				obs.config / "plugin_config/obs-websocket/config.json",
				obs.config / "global.ini", obs.config / "plugins/evil/bin/64bit/evil.so"};
	std::string scene = R"({"name": "S", "sources": [)";
	for (const fs::path &file : own) {
		writeFile(file, secret);
		scene += "\"" + file.string() + "\", ";
	}
	writeFile(obs.config / "overlays/frame.png", "frame");
	writeFile(obs.scenes / "S.json",
		  scene + "\"" + (obs.config / "overlays/frame.png").string() + "\"]}");
	RunLines backupLog;
	ASSERT_TRUE(obs.manager()->runBackup(nullptr, backupLog.callback()).success);
	for (const auto &item : fs::recursive_directory_iterator(obs.backupFolder)) {
		if (item.is_regular_file()) {
			EXPECT_EQ(readFile(item.path()).find(secret), std::string::npos) << item.path();
		}
	}
	EXPECT_EQ(published(obs.backupFolder).mediaFiles.size(), 1u) << "frame.png is media";
	EXPECT_TRUE(
	    backupLog.has("  Skipped: " + own[1].string() + " \u2014 inside OBS's plug-in settings folder"));
	EXPECT_TRUE(backupLog.has("  Skipped: " + own[2].string() + " \u2014 OBS's own settings file"));

	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string alice = (backup.scratch / "home/alice/.config/obs-studio").string();
	const std::string payload = R"({"server_password": "", "auth_required": false})";
	const char *targets[] = {"plugin_config/kestrel/cloud-backup.json",
				 "plugin_config/obs-websocket/config.json", "global.ini", "user.ini",
				 "plugins/evil/bin/64bit/evil.so"};
	int n = 0;
	for (const char *target : targets) {
		writeFile(bob.config / target, "bob's own");
		backup.add(backup.manifest.mediaFiles, "obs-cloud-backup/media/" + std::to_string(++n),
			   alice + "/" + target, &payload);
	}
	RunLines log;
	bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, log.callback());
	for (const char *target : targets)
		EXPECT_EQ(readFile(bob.config / target), "bob's own") << target;
	EXPECT_TRUE(log.has("  Skipped (inside OBS's plug-in settings folder): " + alice +
			    "/plugin_config/obs-websocket/config.json"));
	EXPECT_TRUE(log.has("  Skipped (OBS's own settings file): " + alice + "/user.ini"));
}

struct LimitedRun {
	bool finished = false;            // neither hung nor ran out of memory
	std::vector<std::string> skipped; // the summary's skipped files
};

// A backup in a child process allowed 20 seconds and (outside the sanitizers, which reserve
// far more address space) 1 GB of memory.
LimitedRun backUpWithLimits(const FakeObsConfig &obs, const RunProgress &progress)
{
	const fs::path report = obs.scratch / "skipped.txt";
	const pid_t child = fork();
	if (child == 0) {
		alarm(20);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
		const rlimit memory{1ul << 30, 1ul << 30};
		setrlimit(RLIMIT_AS, &memory);
#endif
		try {
			const BackupSummary summary = obs.manager()->runBackup(progress, kQuiet);
			std::string lines;
			for (const auto &file : summary.skippedFiles)
				lines += file + "\n";
			writeFile(report, lines);
			_exit(summary.success ? 0 : 1);
		} catch (...) {
			_exit(2); // out of memory
		}
	}
	int status = 0;
	waitpid(child, &status, 0);
	LimitedRun run{WIFEXITED(status) && WEXITSTATUS(status) == 0, {}};
	std::istringstream lines(readFile(report));
	for (std::string line; std::getline(lines, line);)
		run.skipped.push_back(line);
	fs::remove(report);
	return run;
}

// A FIFO or a link to /dev/zero named like a scene collection, and a media file swapped for such
// a link once the run has listed it: each is skipped with its reason, the run goes on.
TEST(HostileFolder, SpecialFilesNeitherHangNorExhaustABackup)
{
	FakeObsConfig obs;
	const fs::path clip = obs.home / "Videos/clip.mp4";
	writeFile(clip, "clip");
	writeFile(obs.scenes / "Show.json", R"({"name": "Show", "file": ")" + clip.string() + "\"}");
	ASSERT_TRUE(obs.manager()->runBackup(nullptr, kQuiet).success);

	ASSERT_EQ(mkfifo((obs.scenes / "fifo.json").c_str(), 0644), 0);
	LimitedRun run = backUpWithLimits(obs, nullptr);
	EXPECT_TRUE(run.finished) << "a FIFO blocks no one";
	EXPECT_EQ(run.skipped,
		  std::vector<std::string>{(obs.scenes / "fifo.json").string() + ": Copy failed (" +
					   (obs.scenes / "fifo.json").string() + "): not a regular file"});
	fs::remove(obs.scenes / "fifo.json");

	fs::create_symlink("/dev/zero", obs.scenes / "zero.json");
	run = backUpWithLimits(obs, nullptr);
	EXPECT_TRUE(run.finished) << "/dev/zero is never read";
	EXPECT_EQ(run.skipped.size(), 1u);
	fs::remove(obs.scenes / "zero.json");

	// Same size, new time: the run checks the file against its hash when it comes to it, by
	// which time it is a link to /dev/zero.
	fs::last_write_time(clip, fs::file_time_type::clock::now());
	bool swapped = false;
	run = backUpWithLimits(obs, [&](const std::string &, int32_t, int32_t, int32_t) {
		if (!swapped) {
			swapped = true;
			fs::remove(clip);
			fs::create_symlink("/dev/zero", clip);
		}
	});
	EXPECT_TRUE(run.finished) << "the swapped file is not hashed forever";
	EXPECT_EQ(run.skipped, std::vector<std::string>{clip.string() + ": Copy failed (" + clip.string() +
							"): not a regular file"});
}

// A manifest too large to be real is refused before it is copied anywhere (a sparse 4 GB one
// was copied whole); a flooded history costs no more than its newest files, and its names'
// numbers cannot overflow.
TEST(HostileFolder, HugeManifestsAndFloodedHistoryAreBounded)
{
	FakeObsConfig obs;
	writeFile(obs.scenes / "Show.json", R"({"name": "Show"})");
	ASSERT_TRUE(obs.manager()->runBackup(nullptr, kQuiet).success);
	const fs::path history = obs.backupFolder / "history";
	for (size_t n = 0; n < kMostHistoryRead + 20; ++n)
		writeFile(history / ("1999-" + std::to_string(1000 + n) + ".json"), "{}");
	const std::string sameSecond = R"({"createdAt": "2000-01-01T00:00:00Z"})";
	writeFile(history / "2000-01-01T00-00-00Z.json", sameSecond);
	writeFile(history / "2000-01-01T00-00-00Z-99999999999999999999.json", sameSecond);
	RunLines log;
	std::vector<BackupManifest> backups;
	ASSERT_TRUE(obs.manager()->fetchHistory(backups, log.callback()));
	EXPECT_EQ(backups.size(), kMostHistoryRead) << "the newest files only";
	EXPECT_EQ(backups.empty() ? 0 : backups[0].sceneCollections.size(), 1u);
	EXPECT_TRUE(log.has("  Warning: 23 older history file(s) not read")) << log.lines.front();

	fs::resize_file(obs.backupFolder / "manifest.json", (uint64_t(64) << 20) + 1);
	BackupManifest manifest;
	log.lines.clear();
	EXPECT_FALSE(obs.manager()->fetchManifest(manifest, log.callback()));
	EXPECT_EQ(log.lines.back(),
		  "Cannot read the backup on Local Folder: the manifest is larger than 64 MB");
	EXPECT_TRUE(fs::is_empty(obs.tempFolder)) << "nothing was copied";
}

// Names a manifest cannot hold, a folder nobody may read and a plug-in library that cannot be
// stored are each left out with the reason; the rest is backed up and the run is partial.
TEST(HostileFolder, UnstorableFilesAreLeftOutWithTheirReason)
{
	FakeObsConfig obs;
	writeFile(obs.scenes / "Show.json", R"({"name": "Show"})");
	writeFile(obs.scenes / "bad\xff.json", "{}");
	writeFile(obs.profiles / "Main/basic.ini", "[General]\n");
	writeFile(obs.profiles / "Main/x\xfe.ini", "x");
	writeFile(obs.profiles / "Main/sub/encoder.json", "{}");
	BackupEnvironment environment = obs.environment();
	environment.pluginLibrary = (obs.scratch / "missing.so").string();
	BackupSummary summary;
	{
		test::UnreadableProfile locked(obs.profiles);
		BackupManager manager(environment);
		manager.localPath = obs.backupFolder.string();
		manager.setProvider(ProviderKind::LocalFolder);
		ASSERT_TRUE(manager.provider().authenticate());
		summary = manager.runBackup(nullptr, kQuiet);
	}
	EXPECT_TRUE(summary.success);
	EXPECT_EQ(summary.done, 3);
	std::sort(summary.skippedFiles.begin(), summary.skippedFiles.end());
	EXPECT_EQ(summary.skippedFiles,
		  (std::vector<std::string>{
		      (obs.profiles / "Locked/sub").string() + ": cannot read the folder: Permission denied",
		      (obs.profiles / "Main/x\xfe.ini").string() + ": its name is not valid UTF-8",
		      (obs.scenes / "bad\xff.json").string() + ": its name is not valid UTF-8",
		      environment.pluginLibrary + ": Copy failed (" + environment.pluginLibrary +
			  "): No such file or directory"}));
	EXPECT_EQ(summary.skipped, 4);
	EXPECT_EQ(summary.total, 7);
	EXPECT_EQ(readFile(obs.backupFolder / "manifest.json").find("\xef\xbf\xbd"), std::string::npos)
	    << "no name the manifest would have to mangle";
}

// Even on request, media from outside the home never goes into the system's folders or the
// system plug-in folders; of two entries for one place only the first is restored. Checked on
// the plan, so a fault never writes into the system.
TEST(HostileFolder, SystemFoldersAndSecondEntriesForOnePlaceAreRefused)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string alice = (backup.scratch / "home/alice").string();
	auto &media = backup.manifest.mediaFiles;
	for (const char *system : {"/etc/x", "/usr/lib/x86_64-linux-gnu/obs-plugins/x.so", "/boot/x",
				   "/root/x", "/var/lib/flatpak/x"})
		backup.add(media, "obs-cloud-backup/media/1", system, nullptr);
	backup.add(media, "obs-cloud-backup/media/a", alice + "/Videos/clip.mp4", nullptr);
	backup.add(media, "obs-cloud-backup/media/b", alice + "/Videos/./clip.mp4", nullptr);
	backup.add(media, "obs-cloud-backup/media/c", "/srv/media/clip.mp4", nullptr);
	auto manager = bob.manager(backup.folder);
	manager->restoreOutsideHome = true;
	std::vector<std::string> refusals;
	for (const RestoreStep &step : manager->planRestore(backup.manifest))
		refusals.push_back(step.refusal);
	EXPECT_EQ(refusals,
		  (std::vector<std::string>{"inside the system folder /etc", "inside the system folder /usr",
					    "inside the system folder /boot",
					    "inside the system folder /root", "inside the system folder /var",
					    "", "same destination as an earlier entry", ""}));
}

// A restore that fails leaves no folders it made; temporary copies that killed restores left
// beside a destination go with the next restore there.
TEST(HostileFolder, FailedOrKilledRestoresLeaveNothingBehind)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string alice = (backup.scratch / "home/alice").string(), scene = R"({"name": "S"})";
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/S.json",
		   alice + "/.config/obs-studio/basic/scenes/S.json", &scene);
	for (int n = 0; n < 50; ++n)
		backup.add(backup.manifest.mediaFiles, "obs-cloud-backup/media/missing",
			   alice + "/deep/" + std::to_string(n) + "/er/x.mp4", nullptr);
	const fs::path scenes = bob.config / "basic/scenes";
	writeFile(scenes / ".S.json.kestrel-Ab12Cd", "killed restore's copy");
	writeFile(scenes / ".S.json.keep-me", "the user's own");
	fs::last_write_time(scenes / ".S.json.kestrel-Ab12Cd",
			    fs::file_time_type::clock::now() - std::chrono::hours(1));
	const BackupSummary summary =
	    bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, kQuiet);
	EXPECT_EQ(summary.done, 1);
	EXPECT_FALSE(fs::exists(bob.home / "deep")) << "no empty folders of failed files";
	EXPECT_FALSE(fs::exists(scenes / ".S.json.kestrel-Ab12Cd"));
	EXPECT_EQ(readFile(scenes / ".S.json.keep-me"), "the user's own");
	EXPECT_EQ(std::distance(fs::directory_iterator(scenes), fs::directory_iterator()), 2);
}

} // namespace
} // namespace kestrel
