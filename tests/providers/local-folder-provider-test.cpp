#include "providers/local-folder-provider.h"

#include "support/scratch-folder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::ScratchFolder;
using test::writeFile;

class LocalFolderProviderTest : public ::testing::Test {
protected:
	ScratchFolder scratch;
	fs::path sync = scratch / "OneDrive";
	LocalFolderProvider provider{(sync / "obs-cloud-backup").string()};

	void SetUp() override { ASSERT_TRUE(provider.authenticate()) << provider.lastError(); }
};

TEST_F(LocalFolderProviderTest, BackupFolderOrItsParentMapToTheSamePlace)
{
	LocalFolderProvider parentWithSlash((sync.string() + "/"));
	const auto viaRoot = provider.resolveLocalPath("obs-cloud-backup/manifest.json");
	const auto viaParent = parentWithSlash.resolveLocalPath("obs-cloud-backup/manifest.json");
	ASSERT_TRUE(viaRoot && viaParent);
	EXPECT_EQ(*viaRoot, sync / "obs-cloud-backup/manifest.json");
	EXPECT_EQ(*viaParent, *viaRoot);
	LocalFolderProvider rootWithSlash((sync / "obs-cloud-backup").string() + "/");
	EXPECT_EQ(*rootWithSlash.resolveLocalPath("obs-cloud-backup/x"), sync / "obs-cloud-backup/x");
}

TEST_F(LocalFolderProviderTest, AuthenticateCreatesMissingFoldersAndRejectsFiles)
{
	LocalFolderProvider deep((scratch / "a/b/c").string());
	EXPECT_FALSE(deep.isAuthenticated());
	EXPECT_TRUE(deep.authenticate());
	EXPECT_TRUE(deep.isAuthenticated());
	EXPECT_TRUE(fs::is_directory(scratch / "a/b/c"));

	LocalFolderProvider none("");
	EXPECT_FALSE(none.isAuthenticated());
	EXPECT_FALSE(none.authenticate());
	EXPECT_EQ(none.lastError(), "No backup folder selected.");

	writeFile(scratch / "plain-file", "x");
	LocalFolderProvider onFile((scratch / "plain-file").string());
	EXPECT_FALSE(onFile.authenticate());
	EXPECT_EQ(
	    onFile.lastError().rfind("Cannot create folder " + (scratch / "plain-file").string() + ": ", 0),
	    0u)
	    << onFile.lastError();
	LocalFolderProvider belowFile((scratch / "plain-file/sub").string());
	EXPECT_FALSE(belowFile.authenticate());
}

TEST_F(LocalFolderProviderTest, UploadReplacesExistingFileAndReportsLocalName)
{
	writeFile(scratch / "src/scene one.json", "new content");
	writeFile(sync / "obs-cloud-backup/scenes/scene one.json", "old content that is longer");
	std::vector<std::pair<std::string, int>> calls;
	auto progress = [&](const std::string &file, int32_t percent, int32_t, int32_t) {
		calls.emplace_back(file, percent);
	};
	ASSERT_TRUE(provider.uploadFile((scratch / "src/scene one.json").string(),
					"obs-cloud-backup/scenes/scene one.json", progress));
	EXPECT_EQ(readFile(sync / "obs-cloud-backup/scenes/scene one.json"), "new content");
	ASSERT_EQ(calls.size(), 1u);
	EXPECT_EQ(calls[0], std::make_pair(std::string("scene one.json"), 100));
	EXPECT_TRUE(provider.uploadFile((scratch / "src/scene one.json").string(),
					"obs-cloud-backup/deep/er/x", nullptr));
	EXPECT_EQ(readFile(sync / "obs-cloud-backup/deep/er/x"), "new content");
}

TEST_F(LocalFolderProviderTest, FailedCopiesNameThePathAndSkipProgress)
{
	int calls = 0;
	auto progress = [&](const std::string &, int32_t, int32_t, int32_t) { ++calls; };
	const std::string missing = (scratch / "nope.json").string();
	EXPECT_FALSE(provider.uploadFile(missing, "obs-cloud-backup/nope.json", progress));
	EXPECT_EQ(provider.lastError().rfind("Copy failed (" + missing + "): ", 0), 0u)
	    << provider.lastError();
	EXPECT_GT(provider.lastError().size(), ("Copy failed (" + missing + "): ").size());
	fs::create_directories(scratch / "folder.json");
	EXPECT_FALSE(
	    provider.uploadFile((scratch / "folder.json").string(), "obs-cloud-backup/f.json", progress));
	EXPECT_EQ(calls, 0);
	EXPECT_FALSE(fs::exists(sync / "obs-cloud-backup/f.json"));
}

TEST_F(LocalFolderProviderTest, DownloadOfMissingFileCreatesNothing)
{
	const fs::path target = scratch / "restore/here/x.json";
	EXPECT_FALSE(provider.downloadFile("obs-cloud-backup/missing.json", target.string(), nullptr));
	EXPECT_EQ(provider.lastError(), "Not found in backup folder: obs-cloud-backup/missing.json");
	EXPECT_FALSE(fs::exists(scratch / "restore"));
}

TEST_F(LocalFolderProviderTest, DownloadReplacesLocalFileAndCreatesParents)
{
	writeFile(sync / "obs-cloud-backup/profiles/Main/basic.ini", "[General]\nName=Main\n");
	writeFile(scratch / "cfg/profiles/Main/basic.ini", "stale");
	std::string reported;
	auto progress = [&](const std::string &file, int32_t, int32_t, int32_t) { reported = file; };
	ASSERT_TRUE(provider.downloadFile("obs-cloud-backup/profiles/Main/basic.ini",
					  (scratch / "cfg/profiles/Main/basic.ini").string(), progress));
	EXPECT_EQ(readFile(scratch / "cfg/profiles/Main/basic.ini"), "[General]\nName=Main\n");
	EXPECT_EQ(reported, "basic.ini");
	ASSERT_TRUE(provider.downloadFile("obs-cloud-backup/profiles/Main/basic.ini",
					  (scratch / "new/deep/basic.ini").string(), nullptr));
	EXPECT_TRUE(fs::exists(scratch / "new/deep/basic.ini"));
}

TEST_F(LocalFolderProviderTest, ListDeleteAndCreateFolder)
{
	ASSERT_TRUE(provider.createFolder("obs-cloud-backup/empty"));
	EXPECT_TRUE(provider.createFolder("obs-cloud-backup/empty"));
	std::vector<RemoteEntry> entries{RemoteEntry{"kept", "", "", 0, false}};
	ASSERT_TRUE(provider.listFolder("obs-cloud-backup/empty", entries));
	EXPECT_EQ(entries.size(), 1u);

	writeFile(sync / "obs-cloud-backup/media/1_a.png", "12345");
	fs::create_directories(sync / "obs-cloud-backup/media/sub");
	entries.clear();
	ASSERT_TRUE(provider.listFolder("obs-cloud-backup/media", entries));
	ASSERT_EQ(entries.size(), 2u);
	std::sort(entries.begin(), entries.end(), [](auto &a, auto &b) { return a.name < b.name; });
	EXPECT_EQ(entries[0].name, "1_a.png");
	EXPECT_EQ(entries[0].path, "obs-cloud-backup/media/1_a.png");
	EXPECT_EQ(entries[0].size, 5u);
	EXPECT_FALSE(entries[0].isFolder);
	EXPECT_TRUE(entries[0].id.empty());
	EXPECT_EQ(entries[1].name, "sub");
	EXPECT_TRUE(entries[1].isFolder);
	EXPECT_EQ(entries[1].size, 0u);

	EXPECT_FALSE(provider.listFolder("obs-cloud-backup/media/1_a.png", entries));
	EXPECT_EQ(provider.lastError(), "Not a folder: obs-cloud-backup/media/1_a.png");

	EXPECT_TRUE(provider.deleteItem("obs-cloud-backup/nothing-here"));
	EXPECT_TRUE(provider.deleteItem("obs-cloud-backup/media"));
	EXPECT_FALSE(fs::exists(sync / "obs-cloud-backup/media"));
	EXPECT_TRUE(fs::exists(sync / "obs-cloud-backup/empty"));
}

TEST_F(LocalFolderProviderTest, RefusesRemotePathsOutsideTheBackupFolder)
{
	writeFile(scratch / "secret.txt", "secret");
	writeFile(scratch / "src.txt", "payload");
	const std::string escapes[] = {"obs-cloud-backup/../../secret.txt",
				       "../secret.txt",
				       (scratch / "secret.txt").string(),
				       "obs-cloud-backup\\..\\..\\secret.txt",
				       "C:/Windows/x",
				       "\\\\server\\share\\x",
				       ".."};
	for (const auto &remote : escapes) {
		SCOPED_TRACE(remote);
		EXPECT_FALSE(provider.downloadFile(remote, (scratch / "stolen.txt").string(), nullptr));
		EXPECT_NE(provider.lastError().find(remote), std::string::npos);
		EXPECT_FALSE(provider.uploadFile((scratch / "src.txt").string(), remote, nullptr));
		EXPECT_FALSE(provider.deleteItem(remote));
		EXPECT_FALSE(provider.createFolder(remote));
		std::vector<RemoteEntry> entries;
		EXPECT_FALSE(provider.listFolder(remote, entries));
	}
	EXPECT_FALSE(fs::exists(scratch / "stolen.txt"));
	EXPECT_EQ(readFile(scratch / "secret.txt"), "secret");
	// Names that merely contain dots are ordinary.
	EXPECT_TRUE(
	    provider.uploadFile((scratch / "src.txt").string(), "obs-cloud-backup/..hidden/a..b", nullptr));
}

TEST_F(LocalFolderProviderTest, NoOperationGoesThroughALinkBelowTheFolder)
{
	writeFile(scratch / "victim/file.txt", "victim");
	writeFile(scratch / "src.txt", "payload");
	fs::create_directory_symlink(scratch / "victim", sync / "obs-cloud-backup/media");
	fs::create_symlink(scratch / "victim/file.txt", sync / "obs-cloud-backup/single.txt");
	std::vector<RemoteEntry> entries;
	for (const std::string remote : {"obs-cloud-backup/media/file.txt", "obs-cloud-backup/single.txt",
					 "obs-cloud-backup/media/new/x"}) {
		SCOPED_TRACE(remote);
		EXPECT_FALSE(provider.uploadFile((scratch / "src.txt").string(), remote, nullptr));
		EXPECT_EQ(provider.lastError(), "Refused a link in the backup folder: " + remote);
		EXPECT_FALSE(provider.deleteItem(remote));
		EXPECT_FALSE(provider.createFolder(remote));
	}
	EXPECT_FALSE(provider.listFolder("obs-cloud-backup/media", entries));
	ASSERT_TRUE(provider.listFolder("obs-cloud-backup", entries));
	EXPECT_TRUE(entries.empty()) << "links are not listed";
	EXPECT_EQ(readFile(scratch / "victim/file.txt"), "victim");
	EXPECT_FALSE(fs::exists(scratch / "victim/new"));
	EXPECT_TRUE(fs::is_symlink(sync / "obs-cloud-backup/media"));
}

TEST_F(LocalFolderProviderTest, NeverDeletesTheFolderHoldingTheBackup)
{
	writeFile(sync / "obs-cloud-backup/manifest.json", "{}");
	writeFile(sync / "unrelated.docx", "user file");
	EXPECT_FALSE(provider.deleteItem(""));
	EXPECT_FALSE(provider.deleteItem("."));
	EXPECT_EQ(readFile(sync / "unrelated.docx"), "user file");
	EXPECT_TRUE(fs::exists(sync / "obs-cloud-backup/manifest.json"));
}

} // namespace
} // namespace kestrel
