#include "backup/active-collection.h"
#include "backup/backup-manager.h"
#include "backup/manifest.h"
#include "platform/sha256.h"

#include "fake-obs-config.h"
#include "restore-fixtures.h"
#include "support/obs-log-capture.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>

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
using test::ScratchFolder;
using test::writeFile;

TEST(RestoreRun, RoundTripToAnotherHomeUnderANewName)
{
	FakeObsConfig alice;
	alice.addRealisticSetup();
	{
		RunLines backupLog;
		ASSERT_TRUE(alice.manager()->runBackup(nullptr, backupLog.callback()).success);
	}
	OtherComputer bob(alice.scratch.root());
	writeFile(bob.config / "global.ini",
		  "[Basic]\nSceneCollection=Untitled\nSceneCollectionFile=Untitled\n");
	writeFile(bob.config / "user.ini",
		  "[Basic]\r\nSceneCollection=Untitled\r\nSceneCollectionFile=Untitled.json\r\n");
	auto manager = bob.manager(alice.backupFolder);
	manager->restoreCollectionName = "My Show";

	BackupManifest manifest;
	RunLines log;
	ASSERT_TRUE(manager->fetchManifest(manifest, log.callback()));
	EXPECT_EQ(log.lines.front(), "Downloading manifest\u2026");
	EXPECT_EQ(log.lines.back(), "Manifest loaded. Backup from: " + manifest.createdAt);
	EXPECT_TRUE(fs::is_empty(bob.home / "tmp"));
	// The first listed collection is the one that gets renamed; make it Main Show.
	std::stable_partition(manifest.sceneCollections.begin(), manifest.sceneCollections.end(),
			      [](const BackupEntry &e) { return e.name == "Main Show.json"; });

	std::vector<int32_t> indexes;
	ObsLogCapture obsLog;
	const BackupSummary summary = manager->runRestore(
	    manifest, [&](const std::string &, int32_t, int32_t index, int32_t) { indexes.push_back(index); },
	    log.callback());
	EXPECT_EQ(summary.total, 10) << "old.json was never stored, the font is in a hidden folder";
	EXPECT_EQ(summary.done, 10);
	EXPECT_EQ(summary.skipped, 0);
	EXPECT_TRUE(summary.success);
	EXPECT_EQ(indexes.size(), 10u);
	EXPECT_EQ(log.lines.back(), "Restore complete. 10 files restored.");

	const std::string a = alice.home.string(), b = bob.home.string();
	const fs::path scenes = bob.config / "basic/scenes";
	EXPECT_FALSE(fs::exists(scenes / "Main Show.json"));
	const std::string renamed = readFile(scenes / "My_Show.json");
	EXPECT_NE(renamed.find("\"name\": \"My Show\""), std::string::npos);
	EXPECT_NE(renamed.find("\"file\": \"" + b + "/Pictures/logo.png\""), std::string::npos);
	EXPECT_EQ(renamed.find(a + "/"), std::string::npos);
	EXPECT_EQ(readFile(scenes / "Second.json"), replaced(readFile(alice.scenes / "Second.json"), a, b));
	EXPECT_EQ(readFile(scenes / "broken.json"), replaced(readFile(alice.scenes / "broken.json"), a, b));
	const fs::path profiles = bob.config / "basic/profiles";
	EXPECT_EQ(readFile(profiles / "Main/basic.ini"),
		  "[General]\nName=Main\n[SimpleOutput]\nFilePath=" + b + "/Videos\n");
	EXPECT_EQ(readFile(profiles / "Main/sub/recordEncoder.json"), R"({"bitrate":6000})");
	EXPECT_EQ(readFile(profiles / "Streaming/basic.ini"), "[General]\nName=Streaming\n");
	EXPECT_EQ(readFile(bob.home / "Videos/intro.mp4"), std::string(3000, 'm'));
	EXPECT_EQ(readFile(bob.home / "Pictures/logo.png"), "PNG logo");
	EXPECT_FALSE(fs::exists(bob.home / ".fonts/Brand Font.ttf"));
	EXPECT_EQ(readFile(bob.home / "overlay/index.html"), "<html></html>");

	EXPECT_EQ(readFile(bob.config / "global.ini"),
		  "[Basic]\nSceneCollection=My Show\nSceneCollectionFile=My_Show\n");
	EXPECT_EQ(readFile(bob.config / "user.ini"),
		  "[Basic]\r\nSceneCollection=My Show\nSceneCollectionFile=My_Show.json\n");
	EXPECT_TRUE(log.has("  Renamed collection to \"My Show\""));
	EXPECT_TRUE(log.has("  Remapped 1 path(s) inside basic.ini"));
	EXPECT_TRUE(obsLog.contains(LOG_INFO, "[Kestrel] Restore: 10 file(s)"));
	EXPECT_TRUE(
	    obsLog.contains(LOG_INFO, "[Kestrel] Restoring obs-cloud-backup/scenes/Main Show.json -> " +
					  (scenes / "My_Show.json").string()));
	EXPECT_TRUE(obsLog.contains(LOG_INFO, "[Kestrel]   (remapped from " +
						  (alice.scenes / "Main Show.json").string() + ")"));
	EXPECT_TRUE(obsLog.contains(LOG_INFO, "[Kestrel]   activated 'My Show' (My_Show.json) in user.ini"));
	EXPECT_TRUE(obsLog.contains(LOG_INFO, "[Kestrel]   activated 'My Show' (My_Show) in global.ini"));
	EXPECT_FALSE(obsLog.containsLineStartingWith(LOG_WARNING, "[Kestrel] Restore skipped"));
}

TEST(RestoreRun, KeptNameComesFromTheFileOrItsStem)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string scenes = (bob.config / "basic/scenes").string();
	const std::string named = R"({"name": "Evening"})", unnamed = R"({"sources": []})";
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/eve.json", scenes + "/eve.json",
		   &named);
	writeFile(bob.config / "global.ini", "SceneCollection=A\nSceneCollectionFile=A\n");
	RunLines log;
	auto manager = bob.manager(backup.folder);
	EXPECT_TRUE(manager->runRestore(backup.manifest, nullptr, log.callback()).success);
	EXPECT_EQ(readFile(bob.config / "global.ini"), "SceneCollection=Evening\nSceneCollectionFile=eve\n");

	backup.manifest.sceneCollections.clear();
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/Late Night.json",
		   scenes + "/Late Night.json", &unnamed);
	manager->runRestore(backup.manifest, nullptr, log.callback());
	EXPECT_EQ(readFile(bob.config / "global.ini"),
		  "SceneCollection=Late Night\nSceneCollectionFile=Late Night\n");

	manager->restoreCollectionName = "???";
	manager->runRestore(backup.manifest, nullptr, log.callback());
	EXPECT_TRUE(fs::exists(bob.config / "basic/scenes/___.json"));
	EXPECT_EQ(readCollectionName((bob.config / "basic/scenes/___.json").string()), "???");
}

TEST(RestoreRun, ManifestWithoutSizesIsCheckedByHashWhereItHasOne)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string config = (bob.config).string();
	const std::string scene = R"({"name": "S"})", ini = "[General]\nName=P\n", clip = "clip bytes";
	writeFile(backup.folder / "obs-cloud-backup/scenes/S.json", scene);
	writeFile(backup.folder / "obs-cloud-backup/profiles/P/basic.ini", ini);
	writeFile(backup.folder / "obs-cloud-backup/media/1_clip.mp4", clip);
	// As writers before the size check left it: no "size" anywhere; one hash that fits, one not.
	const std::string text =
	    R"({"createdAt": "2024-01-01T00:00:00Z",
		"sceneCollections": [{"name": "S.json", "remotePath": "obs-cloud-backup/scenes/S.json",
			"originalLocal": ")" +
	    config + R"(/basic/scenes/S.json"}],
		"profiles": [{"name": "basic.ini", "remotePath": "obs-cloud-backup/profiles/P/basic.ini",
			"originalLocal": ")" +
	    config + R"(/basic/profiles/P/basic.ini", "sha256": ")" + platform::sha256Hex(ini) + R"("}],
		"mediaFiles": [{"name": "clip.mp4", "remotePath": "obs-cloud-backup/media/1_clip.mp4",
			"originalLocal": ")" +
	    bob.home.string() + R"(/clip.mp4", "sha256": ")" + platform::sha256Hex("other bytes") + R"("}]})";
	RunLines log;
	const BackupSummary summary =
	    bob.manager(backup.folder)->runRestore(manifestFromJson(text), nullptr, log.callback());
	EXPECT_EQ(summary.done, 2);
	EXPECT_EQ(summary.skipped, 1);
	EXPECT_EQ(readFile(bob.config / "basic/scenes/S.json"), scene);
	EXPECT_EQ(readFile(bob.config / "basic/profiles/P/basic.ini"), ini);
	EXPECT_FALSE(fs::exists(bob.home / "clip.mp4"));
	EXPECT_TRUE(log.has("  Skipped (error): stored copy does not match the backup's SHA-256"));
}

// A backup made on Windows: its scene names the media by Windows paths, one on another drive.
TEST(RestoreRun, WindowsBackupOnPosixPointsTheSceneAtTheRestoredFiles)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string config = "C:\\Users\\Alice\\AppData\\Roaming\\obs-studio";
	const std::string scene = R"({"name": "Show", "sources": [{"file": "C:\\Users\\Alice\\Videos\\a.mp4"},
		{"file": "D:\\Media\\b.mp4"}, {"file": "C:/Users/Alice/Pictures/c.png"}]})";
	const std::string ini = "[SimpleOutput]\r\nFilePath=C:\\Users\\Alice\\Videos\r\n";
	const std::string a = "a", b = "b";
	auto &media = backup.manifest.mediaFiles;
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/Show.json",
		   config + "\\basic\\scenes\\Show.json", &scene);
	backup.add(backup.manifest.profiles, "obs-cloud-backup/profiles/Main/basic.ini",
		   config + "\\basic\\profiles\\Main\\basic.ini", &ini);
	backup.add(media, "obs-cloud-backup/media/1_a.mp4", "C:\\Users\\Alice\\Videos\\a.mp4", &a);
	backup.add(media, "obs-cloud-backup/media/2_b.mp4", "D:\\Media\\b.mp4", &b);
	const fs::path scenes = bob.config / "basic/scenes";
	const std::string home = bob.home.string();

	RunLines log;
	auto manager = bob.manager(backup.folder);
	EXPECT_EQ(manager->runRestore(backup.manifest, nullptr, log.callback()).done, 3);
	EXPECT_EQ(readFile(bob.home / "Videos/a.mp4"), a);
	EXPECT_EQ(readFile(scenes / "Show.json"), R"({"name": "Show", "sources": [{"file": ")" + home +
						      R"(/Videos/a.mp4"},
		{"file": "D:\\Media\\b.mp4"}, {"file": ")" +
						      home + R"(/Pictures/c.png"}]})")
	    << "a path outside the old home stays as it was unless that file is put back";
	EXPECT_EQ(readFile(bob.config / "basic/profiles/Main/basic.ini"),
		  "[SimpleOutput]\r\nFilePath=" + home + "/Videos\r\n");

	manager->restoreOutsideHome = true;
	const std::vector<RestoreStep> plan = manager->planRestore(backup.manifest);
	EXPECT_TRUE(plan[3].outsideHome);
	EXPECT_EQ(plan[3].destination, home + "/D/Media/b.mp4");
	EXPECT_EQ(manager->runRestore(backup.manifest, nullptr, log.callback()).done, 4);
	EXPECT_EQ(readFile(bob.home / "D/Media/b.mp4"), b);
	EXPECT_NE(readFile(scenes / "Show.json").find(R"({"file": ")" + home + R"(/D/Media/b.mp4"})"),
		  std::string::npos)
	    << readFile(scenes / "Show.json");
}

TEST(RestoreRun, FailedFirstCollectionIsNeitherRenamedNorActivated)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string scenes = (bob.config / "basic/scenes").string();
	const std::string second = R"({"name": "Second"})";
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/first.json",
		   scenes + "/first.json", nullptr);
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/second.json",
		   scenes + "/second.json", &second);
	const std::string ini = "SceneCollection=A\nSceneCollectionFile=A.json\n";
	writeFile(bob.config / "global.ini", ini);
	auto manager = bob.manager(backup.folder);
	manager->restoreCollectionName = "Renamed";
	RunLines log;
	const BackupSummary summary = manager->runRestore(backup.manifest, nullptr, log.callback());
	EXPECT_TRUE(summary.success) << "a partial restore succeeds";
	EXPECT_EQ(summary.done, 1);
	EXPECT_EQ(summary.skipped, 1);
	EXPECT_EQ(readFile(bob.config / "global.ini"), ini);
	EXPECT_EQ(readFile(bob.config / "basic/scenes/second.json"), second);
	EXPECT_FALSE(fs::exists(bob.config / "basic/scenes/Renamed.json"));
	EXPECT_TRUE(
	    log.has("  Skipped (error): Not found in backup folder: obs-cloud-backup/scenes/first.json"));
}

TEST(RestoreRun, NothingRestoredIsAFailure)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	backup.add(backup.manifest.profiles, "obs-cloud-backup/profiles/P/basic.ini",
		   (bob.config / "basic/profiles/P/basic.ini").string(), nullptr);
	backup.add(backup.manifest.mediaFiles, "obs-cloud-backup/media/1_a.png", "/srv/a.png", nullptr);
	RunLines log;
	fs::create_directories(backup.folder);
	const BackupSummary summary =
	    bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, log.callback());
	EXPECT_FALSE(summary.success);
	EXPECT_EQ(summary.skipped, 2);
	EXPECT_EQ(summary.message,
		  "Nothing could be restored: all 2 file(s) failed. See the log for the reasons.");
	EXPECT_EQ(log.lines.back(), "Restore failed. 0 files restored, 2 skipped.");

	BackupManifest empty;
	log.lines.clear();
	const BackupSummary none = bob.manager(backup.folder)->runRestore(empty, nullptr, log.callback());
	EXPECT_FALSE(none.success);
	EXPECT_EQ(none.total, 0);
	EXPECT_EQ(none.message, "Nothing to restore: the backup lists no files.");
	EXPECT_EQ(log.lines, std::vector<std::string>{"Restore failed. 0 files restored, 0 skipped."});
}

TEST(RestoreRun, RemotePathsLeavingTheBackupAreNotFollowed)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	writeFile(backup.scratch / "secret.txt", "secret");
	const std::string ok = "[General]\n";
	backup.add(backup.manifest.profiles, "obs-cloud-backup/../secret.txt",
		   (bob.home / "stolen.txt").string(), nullptr);
	backup.add(backup.manifest.profiles, "obs-cloud-backup/profiles/P/basic.INI",
		   (bob.config / "basic/profiles/P/basic.INI").string(), &ok);
	RunLines log;
	ObsLogCapture obsLog;
	const BackupSummary summary =
	    bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, log.callback());
	EXPECT_EQ(summary.done, 1);
	EXPECT_EQ(summary.skipped, 1);
	EXPECT_FALSE(fs::exists(bob.home / "stolen.txt"));
	EXPECT_TRUE(log.has("  Skipped (unsafe path): obs-cloud-backup/../secret.txt"));
}

TEST(RestoreRun, UpperCaseIniIsRemappedToo)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string oldHome = (backup.scratch / "home/alice").string();
	const std::string scene = R"({"name": "S"})";
	const std::string ini = "[Output]\nPath=" + oldHome + "/Videos\n";
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/S.json",
		   oldHome + "/.config/obs-studio/basic/scenes/S.json", &scene);
	backup.add(backup.manifest.profiles, "obs-cloud-backup/profiles/P/basic.INI",
		   oldHome + "/.config/obs-studio/basic/profiles/P/basic.INI", &ini);
	RunLines log;
	EXPECT_TRUE(bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, log.callback()).success);
	EXPECT_EQ(readFile(bob.config / "basic/profiles/P/basic.INI"),
		  "[Output]\nPath=" + bob.home.string() + "/Videos\n");
}

TEST(RestoreRun, InterruptedDownloadKeepsTheUsersFile)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string big(1 << 20, 'v');
	backup.add(backup.manifest.mediaFiles, "obs-cloud-backup/media/1_intro.mp4",
		   (bob.home / "intro.mp4").string(), &big);
	writeFile(bob.home / "intro.mp4", "the user's own intro");
	RunLines log;
	BackupSummary summary;
	{
		rlimit previous{};
		getrlimit(RLIMIT_FSIZE, &previous);
		auto handler = std::signal(SIGXFSZ, SIG_IGN);
		rlimit limited = previous;
		limited.rlim_cur = 64 * 1024;
		setrlimit(RLIMIT_FSIZE, &limited);
		summary = bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, log.callback());
		setrlimit(RLIMIT_FSIZE, &previous);
		std::signal(SIGXFSZ, handler);
	}
	EXPECT_FALSE(summary.success);
	EXPECT_TRUE(readFile(bob.home / "intro.mp4") == "the user's own intro");
	EXPECT_EQ(std::distance(fs::directory_iterator(bob.home), fs::directory_iterator()), 3)
	    << ".config, tmp, intro.mp4";
}

TEST(RestoreRun, FetchingNeedsAConnectedBackEndWithABackup)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	BackupManifest manifest;
	manifest.createdAt = "kept";
	RunLines log;
	EXPECT_FALSE(bob.manager(backup.folder)->fetchManifest(manifest, log.callback()));
	EXPECT_EQ(log.lines, std::vector<std::string>{"Not authenticated."});

	fs::create_directories(backup.folder);
	log.lines.clear();
	EXPECT_FALSE(bob.manager(backup.folder)->fetchManifest(manifest, log.callback()));
	EXPECT_EQ(
	    log.lines.back(),
	    "No backup found on Local Folder: Not found in backup folder: obs-cloud-backup/manifest.json");
	EXPECT_EQ(manifest.createdAt, "kept");

	writeFile(backup.folder / "obs-cloud-backup/manifest.json", "{damaged");
	EXPECT_FALSE(bob.manager(backup.folder)->fetchManifest(manifest, log.callback()));
	EXPECT_EQ(manifest.createdAt, "kept");
	EXPECT_EQ(
	    log.lines.back().rfind("Cannot read the backup on Local Folder: the manifest is damaged: not "
				   "valid JSON: parse error at line 1, column 2",
				   0),
	    0u)
	    << log.lines.back();
}

} // namespace
} // namespace kestrel
