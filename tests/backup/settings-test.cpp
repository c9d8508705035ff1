#include "backup/backup-manager.h"
#include "providers/google-drive-provider.h"
#include "providers/local-folder-provider.h"
#include "providers/onedrive-provider.h"

#include "support/memory-keyring.h"
#include "support/obs-log-capture.h"
#include "support/scratch-folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::ScratchFolder;
using test::writeFile;

class SettingsTest : public ::testing::Test {
protected:
	ScratchFolder scratch;
	fs::path settingsFile = scratch / "plugin_config/kestrel/cloud-backup.json";

	BackupManager manager(std::shared_ptr<platform::SecretStore> keyring = nullptr)
	{
		BackupEnvironment environment;
		environment.settingsPath = settingsFile.string();
		environment.keyring = std::move(keyring);
		return BackupManager(environment);
	}
};

TEST_F(SettingsTest, WithAKeyringTheFileKeepsOnlyAReference)
{
	auto keyring = std::make_shared<test::MemoryKeyring>();
	BackupManager first = manager(keyring);
	first.clientId = "id";
	first.clientSecret = "s3cret";
	first.setProvider(ProviderKind::GoogleDrive);
	first.provider().loadTokens(R"({"access_token":"at","refresh_token":"rt"})");
	first.writeSettings();
	const std::string file = readFile(settingsFile);
	EXPECT_EQ(file.find("s3cret"), std::string::npos) << file;
	EXPECT_EQ(file.find("\"rt\""), std::string::npos) << file;
	ASSERT_EQ(keyring->secrets.size(), 1u);
	EXPECT_NE(file.find("\"secret_ref\": \"" + keyring->secrets.begin()->first + "\""),
		  std::string::npos);

	BackupManager second = manager(keyring);
	second.loadSettings();
	EXPECT_EQ(second.clientSecret, "s3cret");
	EXPECT_EQ(second.provider().serializeTokens(), first.provider().serializeTokens());
	// Written again, the sign-in keeps its one entry.
	second.provider().logout();
	second.writeSettings();
	EXPECT_EQ(keyring->secrets.size(), 1u);
	EXPECT_EQ(readFile(settingsFile), file);

	// A reference from a crafted file names nothing but a plain keyring entry.
	writeFile(settingsFile, R"({"provider": 1, "secret_ref": "../../.ssh/id_rsa"})");
	BackupManager crafted = manager(keyring);
	crafted.loadSettings();
	EXPECT_FALSE(crafted.provider().isAuthenticated());
}

TEST_F(SettingsTest, AnOlderFileHandsItsSignInToTheKeyringOnFirstUse)
{
	const std::string older = R"({"client_id": "id", "client_secret": "s3cret", "provider": 0, )"
				  R"("tokens": "{\"access_token\":\"at\",\"refresh_token\":\"rt\"}"})";
	writeFile(settingsFile, older);
	auto keyring = std::make_shared<test::MemoryKeyring>();
	BackupManager m = manager(keyring);
	m.loadSettings();
	EXPECT_TRUE(m.provider().isAuthenticated());
	EXPECT_EQ(m.clientSecret, "s3cret");
	ASSERT_EQ(keyring->secrets.size(), 1u);
	EXPECT_NE(keyring->secrets.begin()->second.find("refresh_token"), std::string::npos);
	const std::string file = readFile(settingsFile);
	EXPECT_EQ(file.find("s3cret"), std::string::npos) << file;
	EXPECT_EQ(file.find("access_token"), std::string::npos) << file;
	EXPECT_EQ(fs::status(settingsFile).permissions(), fs::perms::owner_read | fs::perms::owner_write);

	// Where no keyring is reachable the file keeps it, as before, and the log says so once.
	writeFile(settingsFile, older);
	keyring->reachableNow = false;
	test::ObsLogCapture log;
	BackupManager headless = manager(keyring);
	headless.loadSettings();
	headless.writeSettings();
	EXPECT_TRUE(headless.provider().isAuthenticated());
	EXPECT_NE(readFile(settingsFile).find("s3cret"), std::string::npos);
	size_t said = 0;
	for (const auto &line : log.lines())
		said += line.text.find("No system keyring is reachable (no D-Bus session bus)") !=
			std::string::npos;
	EXPECT_LE(said, 1u);
}

TEST_F(SettingsTest, NewManagerStartsOnGoogleDriveWithoutTokens)
{
	BackupManager fresh = manager();
	EXPECT_EQ(fresh.providerKind(), ProviderKind::GoogleDrive);
	EXPECT_EQ(fresh.provider().name(), "Google Drive");
	EXPECT_FALSE(fresh.provider().isAuthenticated());
	fresh.loadSettings(); // no file yet: nothing changes
	EXPECT_EQ(fresh.providerKind(), ProviderKind::GoogleDrive);
}

TEST_F(SettingsTest, WrittenFileIsSortedPrivateAndLoadsBack)
{
	BackupManager first = manager();
	first.clientId = "id";
	first.clientSecret = "secr\u00e9t";
	first.localPath = "/home/al/OneDrive/Copias";
	first.setProvider(ProviderKind::GoogleDrive);
	first.provider().loadTokens(R"({"access_token":"at","refresh_token":"rt"})");
	first.writeSettings();

	EXPECT_EQ(readFile(settingsFile), "{\n"
					  "  \"auto_backup\": {\n"
					  "    \"after_recording\": false,\n"
					  "    \"after_stream\": false,\n"
					  "    \"daily_at_start\": false,\n"
					  "    \"kept\": 5,\n"
					  "    \"on_exit\": false\n"
					  "  },\n"
					  "  \"client_id\": \"id\",\n"
					  "  \"client_secret\": \"secr\u00e9t\",\n"
					  "  \"local_path\": \"/home/al/OneDrive/Copias\",\n"
					  "  \"provider\": 0,\n"
					  "  \"tokens\": "
					  "\"{\\\"access_token\\\":\\\"at\\\",\\\"client_id\\\":\\\"id\\\","
					  "\\\"client_secret\\\":\\\"secr\u00e9t\\\","
					  "\\\"refresh_token\\\":\\\"rt\\\"}\"\n"
					  "}");
	struct stat info {};
	ASSERT_EQ(stat(settingsFile.c_str(), &info), 0);
	EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds credentials";

	BackupManager second = manager();
	second.loadSettings();
	EXPECT_EQ(second.clientSecret, "secr\u00e9t");
	EXPECT_EQ(second.localPath, "/home/al/OneDrive/Copias");
	EXPECT_TRUE(second.provider().isAuthenticated());
	EXPECT_EQ(second.provider().serializeTokens(), first.provider().serializeTokens());
}

TEST_F(SettingsTest, AutomaticBackupChoicesLoadBackAndDamagedOnesKeepTheirDefaults)
{
	BackupManager first = manager();
	first.autoBackup = {true, false, true, false, 12};
	first.writeSettings();
	BackupManager second = manager();
	second.loadSettings();
	EXPECT_TRUE(second.autoBackup.afterStream);
	EXPECT_FALSE(second.autoBackup.afterRecording);
	EXPECT_TRUE(second.autoBackup.onExit);
	EXPECT_FALSE(second.autoBackup.dailyAtStart);
	EXPECT_EQ(second.autoBackup.kept, 12);

	const std::pair<const char *, int32_t> keptValues[] = {
	    {"0", 5}, {"51", 5}, {"-3", 5}, {"2.5", 5}, {"\"7\"", 5}, {"1e300", 5}, {"50", 50}, {"1", 1}};
	for (const auto &[kept, expected] : keptValues) {
		writeFile(settingsFile,
			  std::string(R"({"local_path": "/x", "auto_backup": {"on_exit": "yes", )") +
			      R"("after_stream": true, "kept": )" + kept + "}}");
		BackupManager loaded = manager();
		loaded.loadSettings();
		EXPECT_EQ(loaded.autoBackup.kept, expected) << kept;
		EXPECT_FALSE(loaded.autoBackup.onExit) << "only a real true switches a backup on";
		EXPECT_TRUE(loaded.autoBackup.afterStream);
		EXPECT_EQ(loaded.localPath, "/x");
	}
	writeFile(settingsFile, R"({"local_path": "/x", "auto_backup": [true]})");
	BackupManager loaded = manager();
	loaded.loadSettings();
	EXPECT_FALSE(loaded.autoBackup.afterStream);
	EXPECT_EQ(loaded.autoBackup.kept, 5);
}

TEST_F(SettingsTest, ExistingReadableFileBecomesPrivateWhenRewritten)
{
	writeFile(settingsFile, "{}");
	fs::permissions(settingsFile,
			fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
	BackupManager m = manager();
	m.writeSettings();
	EXPECT_EQ(fs::status(settingsFile).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(SettingsTest, UnknownProviderLoadsAsGoogleDriveAndIsWrittenAsZero)
{
	writeFile(settingsFile, R"({"provider": 7, "local_path": "/x", "client_id": "c"})");
	BackupManager m = manager();
	m.loadSettings();
	EXPECT_EQ(m.providerKind(), ProviderKind::GoogleDrive);
	EXPECT_EQ(m.clientId, "c");
	EXPECT_EQ(static_cast<GoogleDriveProvider &>(m.provider()).credentials().clientId, "c");
	m.writeSettings();
	EXPECT_NE(readFile(settingsFile).find("\"provider\": 0"), std::string::npos);
}

TEST_F(SettingsTest, MissingOrEmptyTokensLeaveTheBackEndSignedOut)
{
	writeFile(settingsFile, R"({"provider": 1, "tokens": ""})");
	BackupManager m = manager();
	m.loadSettings();
	EXPECT_EQ(m.providerKind(), ProviderKind::OneDrive);
	EXPECT_FALSE(m.provider().isAuthenticated());
	writeFile(settingsFile, R"({"provider": 1})");
	m.loadSettings();
	EXPECT_FALSE(m.provider().isAuthenticated());
}

TEST_F(SettingsTest, DamagedFileKeepsWhatCameBeforeTheDamage)
{
	BackupManager m = manager();
	m.localPath = "/before";
	writeFile(settingsFile, R"({"client_id": "new-id", "client_secret": 42, "local_path": "/after"})");
	m.loadSettings();
	EXPECT_EQ(m.clientId, "new-id");
	EXPECT_EQ(m.localPath, "/before");
	writeFile(settingsFile, "{\"client_id\": \"x\"");
	m.loadSettings();
	EXPECT_EQ(m.clientId, "new-id");
}

TEST_F(SettingsTest, LocalFolderTakesTheLocalPath)
{
	BackupManager m = manager();
	m.setProvider(ProviderKind::LocalFolder);
	EXPECT_EQ(m.provider().name(), "Local Folder");
	EXPECT_FALSE(m.provider().isAuthenticated()) << "an empty local path is not a folder";
	m.localPath = scratch.root().string();
	m.setProvider(ProviderKind::LocalFolder);
	EXPECT_TRUE(m.provider().isAuthenticated());
	m.writeSettings();
	EXPECT_NE(readFile(settingsFile).find("\"tokens\": \"\""), std::string::npos);
}

TEST_F(SettingsTest, WriteFailuresReachTheCaller)
{
	writeFile(scratch / "plugin_config", "a file where the folder should be");
	BackupManager blockedFolder = manager();
	EXPECT_THROW(blockedFolder.writeSettings(), fs::filesystem_error);

	fs::remove(scratch / "plugin_config");
	fs::create_directories(settingsFile); // a folder in the file's place
	BackupManager blockedFile = manager();
	EXPECT_THROW(blockedFile.writeSettings(), std::runtime_error);
	EXPECT_EQ(std::distance(fs::directory_iterator(settingsFile.parent_path()), fs::directory_iterator()),
		  1);

	BackupManager invalid = manager();
	invalid.clientId = "bad\xff";
	fs::remove(settingsFile);
	EXPECT_ANY_THROW(invalid.writeSettings());
	EXPECT_FALSE(fs::exists(settingsFile));
}

TEST_F(SettingsTest, NoSettingsPathMeansNoFile)
{
	BackupManager m{BackupEnvironment{}};
	m.clientId = "x";
	EXPECT_NO_THROW(m.writeSettings());
	EXPECT_NO_THROW(m.loadSettings());
	EXPECT_EQ(m.clientId, "x");
}

} // namespace
} // namespace kestrel
