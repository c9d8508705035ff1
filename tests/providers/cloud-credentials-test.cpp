#include "providers/google-drive-provider.h"
#include "providers/onedrive-provider.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace kestrel {
namespace {

TEST(CloudCredentials, NewBackEndsSerialiseEmptyMembersInKeyOrder)
{
	EXPECT_EQ(GoogleDriveProvider().serializeTokens(),
		  R"({"access_token":"","client_id":"","client_secret":"","refresh_token":""})");
	EXPECT_EQ(OneDriveProvider().serializeTokens(),
		  R"({"access_token":"","client_id":"","refresh_token":""})");
	EXPECT_EQ(GoogleDriveProvider().name(), "Google Drive");
	EXPECT_EQ(OneDriveProvider().name(), "OneDrive");
	EXPECT_EQ(GoogleDriveProvider().lastError(), "");
}

TEST(CloudCredentials, LoadedAccessTokenSignsInAndLogoutKeepsTheClient)
{
	GoogleDriveProvider drive;
	drive.setClientId("id-1");
	drive.setClientSecret("s\u00e9cret");
	EXPECT_FALSE(drive.isAuthenticated());
	drive.loadTokens(R"({"access_token":"at","refresh_token":"rt"})");
	EXPECT_TRUE(drive.isAuthenticated());
	EXPECT_EQ(drive.credentials().clientId, "id-1") << "a missing client_id keeps the stored one";
	EXPECT_EQ(drive.credentials().clientSecret, "s\u00e9cret");
	drive.logout();
	EXPECT_FALSE(drive.isAuthenticated());
	EXPECT_EQ(drive.serializeTokens(), R"({"access_token":"","client_id":"id-1","client_secret":"s)"
					   "\u00e9"
					   R"(cret","refresh_token":""})");
}

TEST(CloudCredentials, TextThatIsNotJsonChangesNothing)
{
	OneDriveProvider onedrive;
	onedrive.setClientId("app");
	onedrive.loadTokens(R"({"access_token":"at","client_id":"other","refresh_token":"rt"})");
	const std::string before = onedrive.serializeTokens();
	onedrive.loadTokens("{not json");
	onedrive.loadTokens("");
	EXPECT_EQ(onedrive.serializeTokens(), before);
	EXPECT_EQ(onedrive.credentials().clientId, "other");
	// A saved text without tokens signs out.
	onedrive.loadTokens("{}");
	EXPECT_FALSE(onedrive.isAuthenticated());
	EXPECT_EQ(onedrive.credentials().refreshToken, "");
}

TEST(CloudCredentials, OneDriveHasNoClientSecret)
{
	OneDriveProvider onedrive;
	onedrive.setClientSecret("ignored");
	onedrive.loadTokens(R"({"access_token":"a","client_secret":"ignored"})");
	EXPECT_EQ(onedrive.serializeTokens().find("client_secret"), std::string::npos);
	EXPECT_EQ(onedrive.credentials().clientSecret, "");
}

TEST(CloudCredentials, AFailedTransferKeepsTheSignIn)
{
	GoogleDriveProvider drive;
	drive.loadTokens(R"({"access_token":"at"})");
	EXPECT_FALSE(drive.uploadFile("/nonexistent/kestrel-x", "obs-cloud-backup/x", nullptr));
	EXPECT_EQ(drive.lastError(), "Local file not found: /nonexistent/kestrel-x");
	EXPECT_TRUE(drive.isAuthenticated());
}

} // namespace
} // namespace kestrel
