#include "providers/onedrive-provider.h"

#include "browser-double.h"
#include "fake-onedrive.h"
#include "spare-port.h"
#include "support/scratch-folder.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

class OneDrive : public ::testing::Test {
protected:
	test::FakeOneDrive service;
	test::BrowserDouble browser;
	test::ScratchFolder scratch;
	OneDriveProvider onedrive{servicesWithBrowser()};
	std::vector<std::pair<int32_t, int32_t>> progress; // (percent, first)

	OneDrive()
	{
		onedrive.setClientId("od-client");
		onedrive.loadTokens(R"({"access_token":"graph-1","refresh_token":"mrefresh-1"})");
	}

	CloudServices servicesWithBrowser()
	{
		CloudServices services = service.services(test::sparePort());
		services.signIn.openBrowser = [this](const std::string &url) { return browser.open(url); };
		return services;
	}

	std::string upload(const std::string &bytes, const std::string &remote)
	{
		const fs::path local = scratch / "up" / fs::path(remote).filename();
		writeFile(local, bytes);
		const bool done =
		    onedrive.uploadFile(local.string(), remote,
					[this](const std::string &, int32_t percent, int32_t first, int32_t) {
						progress.emplace_back(percent, first);
					});
		return done ? "" : onedrive.lastError();
	}
};

TEST_F(OneDrive, SignsInWithPkce)
{
	onedrive.logout();
	ASSERT_TRUE(onedrive.authenticate()) << onedrive.lastError();
	EXPECT_EQ(onedrive.credentials().accessToken, "graph-1");
	EXPECT_EQ(onedrive.credentials().refreshToken, "mrefresh-1");
	EXPECT_EQ(service.verifierSeen.size(), 64u);
	EXPECT_NE(browser.lastUrl.find("&scope=Files.ReadWrite+offline_access&code_challenge="),
		  std::string::npos);
	EXPECT_NE(browser.lastUrl.find("&code_challenge_method=S256&state="), std::string::npos);
	// The first sign-in has no token to send along.
	EXPECT_EQ(service.server.requests().back().header("Authorization"), "");

	onedrive.setClientId("");
	EXPECT_FALSE(onedrive.authenticate());
	EXPECT_EQ(onedrive.lastError(), "Client ID not set. Configure it in plugin settings.");
}

TEST(Pkce, VerifiersAreFreshAndChallengesUrlSafe)
{
	const std::string first = pkceVerifier();
	const std::string second = pkceVerifier();
	EXPECT_EQ(first.size(), 64u);
	EXPECT_NE(first, second);
	EXPECT_EQ(
	    first.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"),
	    std::string::npos);
	const std::string challenge = pkceChallenge(first);
	EXPECT_EQ(challenge.size(), 43u);
	EXPECT_EQ(challenge.find_first_of("=+/"), std::string::npos);
	// RFC 7636, appendix B.
	EXPECT_EQ(pkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
		  "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST_F(OneDrive, UploadsByPathAndRefreshesOnceAfterA401)
{
	ASSERT_EQ(upload("scene", "obs-cloud-backup/scenes/Mi escena é.json"), "");
	EXPECT_EQ(service.items()["obs-cloud-backup/scenes/Mi escena é.json"].content, "scene");
	EXPECT_EQ(service.server.requests().back().target,
		  "/v1.0/me/drive/root:/obs-cloud-backup/scenes/Mi%20escena%20%C3%A9.json:/content");
	ASSERT_GE(progress.size(), 2u);
	EXPECT_EQ(progress.front(), std::make_pair(0, 0));
	EXPECT_EQ(progress.back(), std::make_pair(100, 1));

	service.expireAccessToken();
	ASSERT_EQ(upload("again", "obs-cloud-backup/a.txt"), "");
	EXPECT_EQ(service.refreshes, 1);
	EXPECT_EQ(onedrive.credentials().refreshToken, "mrefresh-1"); // none came back: the old one stays

	service.rotateRefreshToken = true;
	service.expireAccessToken();
	EXPECT_TRUE(onedrive.verifySignIn());
	EXPECT_EQ(onedrive.credentials().refreshToken, "mrefresh-3");

	service.expireAccessToken();
	onedrive.loadTokens(R"({"access_token":"stale"})");
	const std::string error = upload("x", "obs-cloud-backup/b.txt");
	EXPECT_EQ(error.rfind("Upload failed (401): {\"error\"", 0), 0u) << error;
	EXPECT_NE(error.find("sign in again"), std::string::npos);
}

TEST_F(OneDrive, DownloadsThroughTheDownloadUrl)
{
	ASSERT_EQ(upload(std::string("m\0v", 3), "obs-cloud-backup/media/9_a b.mov"), "");
	service.expireAccessToken();
	const fs::path local = scratch / "restore/deep/a b.mov";
	ASSERT_TRUE(onedrive.downloadFile("obs-cloud-backup/media/9_a b.mov", local.string(), nullptr))
	    << onedrive.lastError();
	EXPECT_EQ(readFile(local), std::string("m\0v", 3));
	EXPECT_EQ(service.server.requests().back().header("Authorization"), "");

	EXPECT_FALSE(
	    onedrive.downloadFile("obs-cloud-backup/none.json", (scratch / "x/none.json").string(), nullptr));
	EXPECT_EQ(onedrive.lastError(), "Item not found: obs-cloud-backup/none.json");
	EXPECT_FALSE(fs::exists(scratch / "x"));

	writeFile(scratch / "plain", "");
	EXPECT_FALSE(onedrive.downloadFile("obs-cloud-backup/media/9_a b.mov",
					   (scratch / "plain/a.mov").string(), nullptr));
	EXPECT_NE(onedrive.lastError().find("plain/a.mov"), std::string::npos);
}

TEST_F(OneDrive, CreatesListsAndDeletes)
{
	EXPECT_TRUE(onedrive.createFolder("obs-cloud-backup"));
	EXPECT_TRUE(onedrive.createFolder("obs-cloud-backup/profiles"));
	ASSERT_EQ(upload("1234", "obs-cloud-backup/manifest.json"), "");
	std::vector<RemoteEntry> entries;
	ASSERT_TRUE(onedrive.listFolder("obs-cloud-backup", entries));
	ASSERT_EQ(entries.size(), 2u);
	EXPECT_EQ(entries[0].name, "manifest.json");
	EXPECT_EQ(entries[0].path, "obs-cloud-backup/manifest.json");
	EXPECT_EQ(entries[0].size, 4u);
	EXPECT_FALSE(entries[0].isFolder);
	EXPECT_TRUE(entries[1].isFolder);
	EXPECT_FALSE(onedrive.listFolder("obs-cloud-backup/none", entries));

	EXPECT_TRUE(onedrive.deleteItem("obs-cloud-backup/manifest.json"));
	EXPECT_FALSE(onedrive.deleteItem("obs-cloud-backup/manifest.json"));
}

TEST_F(OneDrive, NeverSendsAnEmptyStandIn)
{
	const size_t before = service.server.requests().size();
	EXPECT_FALSE(onedrive.uploadFile((scratch / "absent").string(), "obs-cloud-backup/x", nullptr));
	EXPECT_EQ(onedrive.lastError(), "Local file not found: " + (scratch / "absent").string());
	fs::create_directories(scratch / "folder");
	EXPECT_FALSE(onedrive.uploadFile((scratch / "folder").string(), "obs-cloud-backup/x", nullptr));
	EXPECT_EQ(onedrive.lastError(), "Cannot read local file: " + (scratch / "folder").string());
	EXPECT_EQ(service.server.requests().size(), before);
}

} // namespace
} // namespace kestrel
