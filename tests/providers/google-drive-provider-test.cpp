#include "providers/google-drive-provider.h"

#include "browser-double.h"
#include "fake-google-drive.h"
#include "spare-port.h"
#include "support/scratch-folder.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

struct ProgressSeen {
	std::string file;
	int32_t percent;
};

class GoogleDrive : public ::testing::Test {
protected:
	test::FakeGoogleDrive service;
	test::BrowserDouble browser;
	test::ScratchFolder scratch;
	GoogleDriveProvider drive{servicesWithBrowser()};
	std::vector<ProgressSeen> progress;

	GoogleDrive()
	{
		drive.setClientId("client-1");
		drive.setClientSecret(service.clientSecret);
		drive.loadTokens(R"({"access_token":"access-1","refresh_token":"refresh-1"})");
	}

	CloudServices servicesWithBrowser()
	{
		CloudServices services = service.services(test::sparePort());
		services.signIn.openBrowser = [this](const std::string &url) { return browser.open(url); };
		return services;
	}

	ProgressCallback recorder()
	{
		return [this](const std::string &file, int32_t percent, int32_t, int32_t) {
			progress.push_back({file, percent});
		};
	}

	std::string upload(const std::string &bytes, const std::string &remote)
	{
		const fs::path local = scratch / "up" / fs::path(remote).filename();
		writeFile(local, bytes);
		return drive.uploadFile(local.string(), remote, recorder()) ? "" : drive.lastError();
	}

	size_t requestCount() const { return service.server.requests().size(); }
};

TEST_F(GoogleDrive, SignsInThroughTheBrowserWithFormEncodedValues)
{
	drive.logout();
	ASSERT_TRUE(drive.authenticate()) << drive.lastError();
	EXPECT_EQ(drive.credentials().accessToken, "access-1");
	EXPECT_EQ(drive.credentials().refreshToken, "refresh-1");
	EXPECT_EQ(browser.opened, 1);
	EXPECT_NE(browser.lastUrl.find("?client_id=client-1&redirect_uri=http://localhost:"),
		  std::string::npos);
	EXPECT_NE(browser.lastUrl.find("&access_type=offline&prompt=consent&code_challenge="),
		  std::string::npos);
	EXPECT_NE(browser.lastUrl.find("&code_challenge_method=S256&state="), std::string::npos);
	// The fake accepts the code only with the verifier of the challenge it was shown.
	EXPECT_EQ(service.challengeSeen.size(), 43u);
	EXPECT_EQ(browser.lastAnswer().status, 200);

	drive.setClientId("");
	EXPECT_FALSE(drive.authenticate());
	EXPECT_EQ(drive.lastError(), "Client ID not set. Configure it in plugin settings.");
	drive.setClientId("client-1");
	drive.setClientSecret("wrong");
	drive.logout();
	EXPECT_FALSE(drive.authenticate());
	EXPECT_EQ(drive.lastError().rfind("Token exchange failed: ", 0), 0u);
	EXPECT_FALSE(drive.isAuthenticated());
}

TEST_F(GoogleDrive, FirstUploadCreatesTheFoldersThenReplacesByIdWithNameOnly)
{
	ASSERT_EQ(upload("one", "obs-cloud-backup/scenes/Bob's Show\\1.json"), "");
	const std::string id = service.idOf("obs-cloud-backup/scenes/Bob's Show\\1.json");
	ASSERT_FALSE(id.empty());
	EXPECT_FALSE(service.idOf("obs-cloud-backup/scenes").empty());
	EXPECT_EQ(service.item(id).content, "one");
	EXPECT_EQ(service.lastUploadMetadata, R"({"name":"Bob's Show\\1.json","parents":[")" +
						  service.idOf("obs-cloud-backup/scenes") + "\"]}");
	ASSERT_GE(progress.size(), 2u);
	EXPECT_EQ(progress[0].file, "Bob's Show\\1.json");
	EXPECT_EQ(progress.front().percent, 0);
	EXPECT_EQ(progress.back().percent, 100);
	for (size_t i = 1; i < progress.size(); ++i)
		EXPECT_GT(progress[i].percent, progress[i - 1].percent);

	const size_t items = service.count();
	ASSERT_EQ(upload("two", "obs-cloud-backup/scenes/Bob's Show\\1.json"), "");
	EXPECT_EQ(service.count(), items);
	EXPECT_EQ(service.item(id).content, "two");
	EXPECT_EQ(service.lastUploadMetadata, R"({"name":"Bob's Show\\1.json"})");
	EXPECT_EQ(service.server.requests().back().path, "/upload/drive/v3/files/" + id);

	ASSERT_EQ(upload("top", "manifest.json"), "");
	EXPECT_EQ(service.item(service.idOf("manifest.json")).parent, "root");
}

TEST_F(GoogleDrive, RefreshesOnceAfterA401)
{
	service.expireAccessToken();
	ASSERT_EQ(upload("x", "obs-cloud-backup/a.txt"), "");
	EXPECT_EQ(service.refreshes, 1);
	EXPECT_EQ(drive.credentials().refreshToken, "refresh-1");
	EXPECT_TRUE(drive.verifySignIn());

	service.expireAccessToken();
	drive.loadTokens(R"({"access_token":"stale"})");
	EXPECT_EQ(upload("x", "obs-cloud-backup/scenes/b.txt"),
		  "Could not create remote folder: obs-cloud-backup/scenes");
	EXPECT_FALSE(drive.verifySignIn());
	EXPECT_NE(drive.lastError().find("sign in again"), std::string::npos);
}

TEST_F(GoogleDrive, DownloadsAndCleansUpAfterFailures)
{
	ASSERT_EQ(upload(std::string("bin\0ary", 7), "obs-cloud-backup/media/1_clip.bin"), "");
	const fs::path local = scratch / "restore/deep/clip.bin";
	ASSERT_TRUE(drive.downloadFile("obs-cloud-backup/media/1_clip.bin", local.string(), nullptr));
	EXPECT_EQ(readFile(local), std::string("bin\0ary", 7));

	EXPECT_FALSE(
	    drive.downloadFile("obs-cloud-backup/media/missing", (scratch / "m/x").string(), nullptr));
	EXPECT_EQ(drive.lastError(), "Remote file not found: obs-cloud-backup/media/missing");
	EXPECT_FALSE(fs::exists(scratch / "m"));

	test::FakeGoogleDrive::Item lost = service.item(service.idOf("obs-cloud-backup/media/1_clip.bin"));
	lost.contentLost = true;
	service.setItem(service.idOf("obs-cloud-backup/media/1_clip.bin"), lost);
	const fs::path again = scratch / "restore/again.bin";
	EXPECT_FALSE(drive.downloadFile("obs-cloud-backup/media/1_clip.bin", again.string(), nullptr));
	EXPECT_FALSE(fs::exists(again));
	EXPECT_NE(drive.lastError().find("404"), std::string::npos);

	writeFile(scratch / "plain", "not a folder");
	EXPECT_FALSE(drive.downloadFile("obs-cloud-backup/media/1_clip.bin",
					(scratch / "plain/x.bin").string(), nullptr));
	EXPECT_NE(drive.lastError().find("plain/x.bin"), std::string::npos);
}

TEST_F(GoogleDrive, ListsAndDeletes)
{
	ASSERT_EQ(upload("12345", "obs-cloud-backup/scenes/a.json"), "");
	ASSERT_TRUE(drive.createFolder("obs-cloud-backup/profiles/Main"));
	std::vector<RemoteEntry> entries{{"kept", "", "", 0, false}};
	ASSERT_TRUE(drive.listFolder("obs-cloud-backup", entries));
	ASSERT_EQ(entries.size(), 3u);
	for (const auto &entry : entries) {
		if (entry.name == "scenes" || entry.name == "profiles") {
			EXPECT_TRUE(entry.isFolder);
			EXPECT_EQ(entry.path, "obs-cloud-backup/" + entry.name);
			EXPECT_FALSE(entry.id.empty());
		}
	}
	entries.clear();
	ASSERT_TRUE(drive.listFolder("obs-cloud-backup/scenes", entries));
	ASSERT_EQ(entries.size(), 1u);
	EXPECT_EQ(entries[0].size, 5u);
	EXPECT_FALSE(entries[0].isFolder);
	EXPECT_FALSE(drive.listFolder("obs-cloud-backup/none", entries));

	EXPECT_TRUE(drive.deleteItem("obs-cloud-backup/scenes/a.json"));
	EXPECT_TRUE(service.idOf("obs-cloud-backup/scenes/a.json").empty());
	EXPECT_FALSE(drive.deleteItem("obs-cloud-backup/scenes/a.json"));
}

TEST_F(GoogleDrive, RefusesSourcesItCannotSendWhole)
{
	const size_t before = requestCount();
	EXPECT_FALSE(drive.uploadFile((scratch / "absent.json").string(), "obs-cloud-backup/x", nullptr));
	EXPECT_EQ(drive.lastError(), "Local file not found: " + (scratch / "absent.json").string());
	fs::create_directories(scratch / "folder.json");
	EXPECT_FALSE(drive.uploadFile((scratch / "folder.json").string(), "obs-cloud-backup/x", nullptr));
	EXPECT_EQ(drive.lastError(), "Cannot read local file: " + (scratch / "folder.json").string());
	EXPECT_EQ(requestCount(), before);
}

// Two runs on one account from this computer (the plug-in and the command line) take turns.
TEST_F(GoogleDrive, RunsOnOneAccountTakeTurns)
{
	CloudServices services = servicesWithBrowser();
	services.runLockFolder = (scratch / "settings").string();
	GoogleDriveProvider first{services}, second{services};
	auto held = first.holdBackup(std::chrono::milliseconds(0));
	ASSERT_TRUE(held) << first.lastError();
	EXPECT_FALSE(second.holdBackup(std::chrono::milliseconds(50)));
	EXPECT_EQ(second.lastError(),
		  "Another backup or restore is using Google Drive: try again when it has finished.");
	EXPECT_TRUE(drive.holdBackup(std::chrono::milliseconds(0))) << "no lock folder, no lock";
	held.reset();
	EXPECT_TRUE(second.holdBackup(std::chrono::milliseconds(0))) << second.lastError();
}

TEST(DriveQuery, LiteralsEscapeQuotesAndBackslashes)
{
	EXPECT_EQ(driveQueryLiteral("Bob's Show.json"), R"('Bob\'s Show.json')");
	EXPECT_EQ(driveQueryLiteral(R"(a\b)"), R"('a\\b')");
}

} // namespace
} // namespace kestrel
