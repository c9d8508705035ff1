#include "backup/backup-history.h"
#include "backup/backup-manager.h"
#include "backup/manifest.h"

#include "fake-google-drive.h"
#include "fake-obs-config.h"
#include "fake-onedrive.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::FakeObsConfig;
using test::readFile;
using test::writeFile;

// A whole backup from one computer and its restore on another, both through a cloud back-end.
void backupAndRestoreThrough(ProviderKind kind, const CloudServices &services, const std::string &tokens,
			     const std::string &providerName)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	BackupEnvironment environment = obs.environment();
	environment.cloudServices = services;
	BackupManager source(environment);
	source.clientSecret = "s+e&c=r%t";
	source.setProvider(kind);
	source.provider().loadTokens(tokens);
	std::vector<int32_t> percents;
	const BackupSummary backup = source.runBackup(
	    [&](const std::string &, int32_t percent, int32_t, int32_t) { percents.push_back(percent); },
	    [](const std::string &) {});
	EXPECT_TRUE(backup.success) << backup.message;
	// old.json is a folder; the font in the hidden ~/.fonts is refused as media.
	EXPECT_EQ(backup.done, 10) << source.provider().lastError();
	EXPECT_EQ(backup.skipped, 1);
	EXPECT_EQ(std::count(percents.begin(), percents.end(), 100), 10);

	const fs::path bob = obs.scratch / "home/bob";
	BackupEnvironment other;
	other.obsPaths = obsPathsIn((bob / ".config/obs-studio").string());
	other.tempFolder = (bob / "tmp").string();
	other.homeFolder = bob.string();
	other.cloudServices = services;
	fs::create_directories(other.tempFolder);
	fs::create_directories(other.obsPaths.configDir);
	BackupManager target(other);
	target.setProvider(kind);
	target.provider().loadTokens(source.provider().serializeTokens());
	BackupManifest manifest;
	ASSERT_TRUE(target.fetchManifest(manifest, [](const std::string &) {}))
	    << target.provider().lastError();
	EXPECT_EQ(manifest.providerName, providerName);
	const BackupSummary restore = target.runRestore(manifest, nullptr, [](const std::string &) {});
	EXPECT_TRUE(restore.success) << restore.message;
	EXPECT_EQ(restore.done, 10) << target.provider().lastError();
	EXPECT_EQ(readFile(bob / ".config/obs-studio/basic/profiles/Main/sub/recordEncoder.json"),
		  R"({"bitrate":6000})");
	EXPECT_EQ(readFile(bob / "Videos/intro.mp4"), std::string(3000, 'm'));
	EXPECT_EQ(readFile(bob / ".config/obs-studio/basic/scenes/Main Show.json").find(obs.home.string()),
		  std::string::npos);
}

TEST(CloudBackup, GoogleDriveEndToEnd)
{
	test::FakeGoogleDrive drive;
	backupAndRestoreThrough(ProviderKind::GoogleDrive, drive.services(1),
				R"({"access_token":"access-1"})", "Google Drive");
	EXPECT_FALSE(drive.idOf("obs-cloud-backup/plugin/kestrel.so").empty());
}

// A back-end that cannot hash in place confirms a backup made before hashes were kept through
// downloads of the stored copies, instead of storing every file again.
TEST(CloudBackup, HashlessBackupIsConfirmedThroughDownloads)
{
	test::FakeGoogleDrive drive;
	FakeObsConfig obs;
	writeFile(obs.scenes / "Show.json", R"({"name": "Show"})");
	writeFile(obs.profiles / "Main/basic.ini", "[General]\nName=Main\n");
	BackupEnvironment environment = obs.environment();
	environment.cloudServices = drive.services(1);
	BackupManager manager(environment);
	manager.setProvider(ProviderKind::GoogleDrive);
	manager.provider().loadTokens(R"({"access_token":"access-1"})");
	const RunLog quiet = [](const std::string &) {};
	ASSERT_TRUE(manager.runBackup(nullptr, quiet).success) << manager.provider().lastError();

	const std::string id = drive.idOf("obs-cloud-backup/manifest.json");
	test::FakeGoogleDrive::Item published = drive.item(id);
	BackupManifest old = manifestFromJson(published.content.str());
	for (auto *list : {&old.sceneCollections, &old.profiles})
		for (auto &entry : *list) {
			entry.sha256.clear();
			entry.modified = 0;
		}
	published.content = manifestToJson(old);
	drive.setItem(id, published);
	const size_t items = drive.count();

	const BackupSummary upgraded = manager.runBackup(nullptr, quiet);
	EXPECT_TRUE(upgraded.success);
	EXPECT_EQ(upgraded.unchanged, 2);
	EXPECT_EQ(drive.count(), items + 2) << "only the history gains: the old manifest and the new";
}

TEST(CloudBackup, OneDriveEndToEnd)
{
	test::FakeOneDrive onedrive;
	backupAndRestoreThrough(ProviderKind::OneDrive, onedrive.services(1), R"({"access_token":"graph-1"})",
				"OneDrive");
	EXPECT_EQ(onedrive.items().count("obs-cloud-backup/manifest.json"), 1u);
}

// A streamer's media folder spans several pages of the services' listings: an unchanged file
// must still be found as stored, and pruning must see the copies on every page.
template <typename Fake>
void backUpManyClipsThrough(ProviderKind kind, const std::string &tokens,
			    const std::function<void(Fake &)> &plantLeftover)
{
	const auto storedMedia = [](const Fake &service) {
		return service.filesIn("obs-cloud-backup/media");
	};
	Fake service;
	FakeObsConfig obs;
	std::string sources;
	for (int i = 0; i < 350; ++i) {
		const fs::path clip = obs.home / ("Videos/clip" + std::to_string(i) + ".mp4");
		test::writeFile(clip, "clip " + std::to_string(i));
		sources += std::string(i ? "," : "") +
			   R"({"id": "ffmpeg_source", "settings": {"local_file": ")" + clip.string() +
			   R"("}})";
	}
	test::writeFile(obs.scenes / "Clips.json", R"({"name": "Clips", "sources": [)" + sources + "]}");
	BackupEnvironment environment = obs.environment();
	environment.cloudServices = service.services(1);
	environment.cloudServices.retry.sleep = [](std::chrono::milliseconds) {};
	BackupManager manager(environment);
	manager.clientSecret = "s+e&c=r%t";
	manager.setProvider(kind);
	manager.provider().loadTokens(tokens);
	const auto run = [&] {
		const BackupSummary summary = manager.runBackup(nullptr, [](const std::string &) {});
		EXPECT_TRUE(summary.success) << summary.message;
		EXPECT_EQ(summary.skipped, 0) << manager.provider().lastError();
		return summary;
	};

	EXPECT_EQ(run().done, 351);
	EXPECT_EQ(storedMedia(service), 350u);
	plantLeftover(service);
	EXPECT_EQ(storedMedia(service), 351u);
	const size_t before = service.contentRequests();
	run();
	EXPECT_EQ(service.contentRequests() - before, 2u) << "only the manifest and its history entry";
	EXPECT_EQ(storedMedia(service), 351u) << "a file no backup named is someone else's";

	// Changed clips get fresh names beside the copies the kept backups name, until those
	// backups age out.
	for (int i = 0; i < 3; ++i)
		test::writeFile(obs.home / ("Videos/clip" + std::to_string(i) + ".mp4"), "changed");
	run();
	EXPECT_EQ(storedMedia(service), 354u);
	for (size_t i = 0; i < kKeptBackups - 1; ++i)
		run();
	EXPECT_EQ(storedMedia(service), 351u) << "the aged-out copies are found on every listing page";
}

TEST(CloudBackup, ManyClipsOnGoogleDrive)
{
	backUpManyClipsThrough<test::FakeGoogleDrive>(
	    ProviderKind::GoogleDrive, R"({"access_token":"access-1"})", [](test::FakeGoogleDrive &drive) {
		    drive.setItem("leftover", {"zz-leftover.mp4", drive.idOf("obs-cloud-backup/media"), false,
					       "x", false});
	    });
}

TEST(CloudBackup, ManyClipsOnOneDrive)
{
	backUpManyClipsThrough<test::FakeOneDrive>(
	    ProviderKind::OneDrive, R"({"access_token":"graph-1"})", [](test::FakeOneDrive &onedrive) {
		    onedrive.setItem("obs-cloud-backup/media/zz-leftover.mp4", {false, "x"});
	    });
}

} // namespace
} // namespace kestrel
