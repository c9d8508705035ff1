#include "backup/backup-manager.h"
#include "backup/manifest.h"
#include "backup/remote-layout.h"

#include "fake-obs-config.h"
#include "support/log-capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::FakeObsConfig;
using test::LogCapture;
using test::readFile;
using test::writeFile;

struct RunRecord {
	std::vector<std::string> log;
	struct Progress {
		std::string file;
		int32_t percent, index, total;
	};
	std::vector<Progress> progress;

	RunProgress progressCallback()
	{
		return [this](const std::string &file, int32_t percent, int32_t index, int32_t total) {
			progress.push_back({file, percent, index, total});
		};
	}
	RunLog logCallback()
	{
		return [this](const std::string &line) { log.push_back(line); };
	}
	bool logged(const std::string &line) const
	{
		return std::find(log.begin(), log.end(), line) != log.end();
	}
};

bool isEmptyFolder(const fs::path &folder)
{
	return fs::directory_iterator(folder) == fs::directory_iterator();
}

TEST(BackupRun, StoresTheWholeConfigurationWithLayoutLogAndManifest)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	auto manager = obs.manager();
	RunRecord run;
	LogCapture obsLog;
	const BackupSummary summary = manager->runBackup(run.progressCallback(), run.logCallback());

	// 4 collections (old.json is a folder and fails), 4 profile files, 3 media files (the font
	// in a hidden folder of the home is refused).
	EXPECT_EQ(summary.total, 11);
	EXPECT_EQ(summary.done, 10);
	EXPECT_EQ(summary.skipped, 1);
	EXPECT_TRUE(summary.success);
	EXPECT_EQ(summary.message, "");
	ASSERT_EQ(summary.skippedFiles.size(), 1u);
	EXPECT_EQ(summary.skippedFiles[0].rfind((obs.scenes / "old.json").string() + ": Copy failed (", 0),
		  0u);

	const fs::path stored = obs.backupFolder;
	const std::string h = obs.home.string();
	EXPECT_EQ(readFile(stored / "scenes/Main Show.json"), readFile(obs.scenes / "Main Show.json"));
	EXPECT_EQ(readFile(stored / "scenes/broken.json"), readFile(obs.scenes / "broken.json"));
	EXPECT_FALSE(fs::exists(stored / "scenes/Scene.JSON"));
	EXPECT_EQ(readFile(stored / "profiles/Main/sub/recordEncoder.json"), R"({"bitrate":6000})");
	EXPECT_TRUE(fs::exists(stored / "profiles/Streaming/basic.ini"));
	EXPECT_FALSE(fs::exists(stored / "profiles/stray-file.ini"));
	const std::string intro = h + "/Videos/intro.mp4";
	EXPECT_EQ(readFile(stored / ("media/" + std::to_string(fnv1a64(intro)) + "_intro.mp4")),
		  std::string(3000, 'm'));
	EXPECT_EQ(readFile(stored / "plugin/kestrel.so"), readFile(obs.pluginLibrary));
	EXPECT_NE(readFile(stored / "plugin/INSTALL.txt").find("kestrel.so"), std::string::npos);
	EXPECT_NE(readFile(stored / "plugin/install.sh").find("#!/bin/sh"), std::string::npos);
	EXPECT_TRUE(isEmptyFolder(obs.tempFolder)) << "temporary files are removed";

	const BackupManifest manifest = manifestFromJson(readFile(stored / "manifest.json"));
	EXPECT_EQ(manifest.obsVersion, "29.0.2");
	EXPECT_EQ(manifest.providerName, "Local Folder");
	EXPECT_EQ(manifest.sceneCollections.size(), 3u);
	ASSERT_EQ(manifest.profiles.size(), 4u);
	ASSERT_EQ(manifest.mediaFiles.size(), 3u);
	for (const auto &entry : manifest.profiles)
		EXPECT_EQ(entry.remotePath.find('\\'), std::string::npos);
	const auto sub = std::find_if(manifest.profiles.begin(), manifest.profiles.end(),
				      [](const BackupEntry &e) { return e.name == "recordEncoder.json"; });
	ASSERT_NE(sub, manifest.profiles.end());
	EXPECT_EQ(sub->remotePath, "obs-cloud-backup/profiles/Main/sub/recordEncoder.json");
	EXPECT_EQ(sub->originalLocal, (obs.profiles / "Main/sub/recordEncoder.json").string());
	EXPECT_EQ(sub->size, 16);
	EXPECT_EQ(sub->sha256, "d72e5de73cdac00e7be0ed82b0a73b3e40018a6d0acb679b88d248d96f12b91d");
	EXPECT_NE(sub->modified, 0);
	EXPECT_EQ(manifest.mediaFiles[0].originalLocal, h + "/Pictures/logo.png") << "media in byte order";
	const auto old = std::find_if(manifest.sceneCollections.begin(), manifest.sceneCollections.end(),
				      [](const BackupEntry &e) { return e.name == "old.json"; });
	EXPECT_EQ(old, manifest.sceneCollections.end()) << "a failed file is not listed";

	ASSERT_GE(run.log.size(), 4u);
	EXPECT_EQ(run.log.front(), "Building backup list\u2026");
	EXPECT_TRUE(run.logged("  Skipped: " + h + "/.fonts/Brand Font.ttf \u2014 inside the hidden folder " +
			       h + "/.fonts"));
	EXPECT_TRUE(run.logged("Found 4 scene(s), 4 profile file(s), 3 media file(s)."));
	EXPECT_TRUE(run.logged("Uploading: logo.png (9/11)"));
	EXPECT_TRUE(run.logged("Backing up plugin: kestrel.so"));
	EXPECT_TRUE(run.logged("Uploading manifest\u2026"));
	EXPECT_EQ(run.log.back(), "Backup complete. 10 files uploaded, 1 skipped.");
	const auto skipped = std::find_if(run.log.begin(), run.log.end(), [](const std::string &line) {
		return line.rfind("  Skipped: old.json \u2014 Copy failed (", 0) == 0;
	});
	EXPECT_NE(skipped, run.log.end());

	EXPECT_TRUE(obsLog.contains(LogLevel::Info,
				    "[Kestrel] Backup set: 4 scene(s), 4 profile file(s), 3 media file(s)"));
	EXPECT_TRUE(obsLog.contains(LogLevel::Info, "[Kestrel]   media: " + intro));
	EXPECT_TRUE(obsLog.contains(LogLevel::Info,
				    "[Kestrel] Backing up plugin binary: " + obs.pluginLibrary.string()));
	const std::string skipPrefix =
	    "[Kestrel] Skipped old.json (" + (obs.scenes / "old.json").string() + ") \u2014 ";
	EXPECT_TRUE(obsLog.containsLineStartingWith(LogLevel::Warning, skipPrefix));

	// Progress carries the run's own index and total, once per uploaded file at 100 %.
	ASSERT_EQ(run.progress.size(), 10u);
	for (const auto &p : run.progress) {
		EXPECT_EQ(p.percent, 100);
		EXPECT_EQ(p.total, 11);
	}
	EXPECT_EQ(run.progress.back().index, 11);
}

TEST(BackupRun, EveryUploadFailingKeepsThePreviousBackup)
{
	FakeObsConfig obs;
	writeFile(obs.scenes / "a.json", "{}");
	auto manager = obs.manager();
	RunRecord first;
	ASSERT_TRUE(manager->runBackup(nullptr, first.logCallback()).success);
	const std::string published = readFile(obs.backupFolder / "manifest.json");

	fs::remove(obs.scenes / "a.json");
	fs::create_directories(obs.scenes / "a.json");
	fs::create_directories(obs.scenes / "b.json");
	RunRecord run;
	const BackupSummary summary = manager->runBackup(nullptr, run.logCallback());
	EXPECT_EQ(summary.total, 2);
	EXPECT_EQ(summary.done, 0);
	EXPECT_EQ(summary.skipped, 2);
	EXPECT_FALSE(summary.success);
	EXPECT_EQ(summary.message,
		  "Nothing could be backed up: all 2 file(s) failed. The previous backup is unchanged.");
	EXPECT_EQ(readFile(obs.backupFolder / "manifest.json"), published);
	EXPECT_EQ(readFile(obs.backupFolder / "scenes/a.json"), "{}");
	EXPECT_EQ(run.log.back(), "Backup failed. 0 files uploaded, 2 skipped.");
}

TEST(BackupRun, ConfigurationWithoutCollectionsOrProfilesIsRefused)
{
	FakeObsConfig obs;
	auto manager = obs.manager();
	RunRecord run;
	const BackupSummary summary = manager->runBackup(run.progressCallback(), run.logCallback());
	EXPECT_EQ(summary.total, 0);
	EXPECT_FALSE(summary.success);
	EXPECT_EQ(summary.message, "No OBS scene collections or profiles found in " + obs.config.string() +
				       "; nothing was backed up.");
	EXPECT_TRUE(run.log.empty());
	EXPECT_TRUE(run.progress.empty());
	EXPECT_FALSE(fs::exists(obs.backupFolder / "manifest.json"));
	EXPECT_FALSE(fs::exists(obs.backupFolder / "plugin/kestrel.so"));
}

TEST(BackupRun, NotConnectedDoesNothing)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	BackupManager manager(obs.environment());
	manager.localPath = (obs.scratch / "not-created").string();
	manager.setProvider(ProviderKind::LocalFolder);
	RunRecord run;
	const BackupSummary summary = manager.runBackup(run.progressCallback(), run.logCallback());
	EXPECT_EQ(summary.message, "Not authenticated. Connect to a cloud provider first.");
	EXPECT_FALSE(summary.success);
	EXPECT_EQ(summary.total, 0);
	EXPECT_TRUE(run.log.empty());
	EXPECT_FALSE(fs::exists(obs.scratch / "not-created"));
}

TEST(BackupRun, MediaNamesFollowTheLocalPath)
{
	EXPECT_EQ(fnv1a64(""), 14695981039346656037ull);
	EXPECT_EQ(fnv1a64("a"), 0xaf63dc4c8601ec8cull);
	const std::string a = mediaRemotePath("C:\\a\\logo.png");
	const std::string b = mediaRemotePath("D:\\b\\logo.png");
	EXPECT_NE(a, b);
	EXPECT_EQ(mediaRemotePath("/srv/b/logo.png"),
		  "obs-cloud-backup/media/" + std::to_string(fnv1a64("/srv/b/logo.png")) + "_logo.png");
	EXPECT_EQ(mediaRemotePath("/srv/b/logo.png"), mediaRemotePath("/srv/b/logo.png"));
}

TEST(BackupRun, ProfileFileLinkedFromOutsideStaysInsideTheBackup)
{
	FakeObsConfig obs;
	writeFile(obs.scratch / "elsewhere/shared.json", "shared");
	fs::create_directories(obs.profiles / "Main");
	fs::create_symlink(obs.scratch / "elsewhere/shared.json", obs.profiles / "Main/shared.json");
	auto manager = obs.manager();
	RunRecord run;
	const BackupSummary summary = manager->runBackup(nullptr, run.logCallback());
	EXPECT_EQ(summary.done, 1);
	EXPECT_EQ(readFile(obs.backupFolder / "profiles/Main/shared.json"), "shared");
}

TEST(BackupRun, StoredInstallScriptInstallsThePlugin)
{
	FakeObsConfig obs;
	writeFile(obs.scenes / "a.json", "{}");
	auto manager = obs.manager();
	RunRecord run;
	manager->runBackup(nullptr, run.logCallback());
	const fs::path newHome = obs.scratch / "other-pc";
	fs::create_directories(newHome);
	const std::string command = "env -u XDG_CONFIG_HOME HOME='" + newHome.string() + "' sh '" +
				    (obs.backupFolder / "plugin/install.sh").string() + "' > /dev/null";
	ASSERT_EQ(std::system(command.c_str()), 0);
	EXPECT_EQ(readFile(newHome / ".config/obs-studio/plugins/kestrel/bin/64bit/kestrel.so"),
		  readFile(obs.pluginLibrary));
}

} // namespace
} // namespace kestrel
