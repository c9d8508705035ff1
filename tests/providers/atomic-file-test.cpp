#include "providers/atomic-file.h"
#include "providers/local-folder-provider.h"

#include "support/scratch-folder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::ScratchFolder;
using test::writeFile;

size_t entriesIn(const fs::path &folder)
{
	return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Makes writes past `bytes` fail with EFBIG, the way a full disk or a killed copy cuts a file short.
class FileSizeLimit {
public:
	explicit FileSizeLimit(rlim_t bytes)
	{
		previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
		getrlimit(RLIMIT_FSIZE, &previous_);
		rlimit limited = previous_;
		limited.rlim_cur = bytes;
		setrlimit(RLIMIT_FSIZE, &limited);
	}
	~FileSizeLimit()
	{
		setrlimit(RLIMIT_FSIZE, &previous_);
		std::signal(SIGXFSZ, previousHandler_);
	}

private:
	rlimit previous_{};
	void (*previousHandler_)(int);
};

TEST(AtomicFile, InterruptedUploadLeavesThePreviousBackupIntact)
{
	ScratchFolder scratch;
	LocalFolderProvider provider(scratch.root().string());
	const fs::path stored = scratch / "obs-cloud-backup/media/1_intro.mp4";
	writeFile(stored, "the good copy from last week");
	writeFile(scratch / "intro.mp4", std::string(1 << 20, 'v'));
	{
		FileSizeLimit limit(64 * 1024);
		EXPECT_FALSE(provider.uploadFile((scratch / "intro.mp4").string(),
						 "obs-cloud-backup/media/1_intro.mp4", nullptr));
	}
	EXPECT_EQ(provider.lastError().rfind("Copy failed (", 0), 0u);
	EXPECT_TRUE(readFile(stored) == "the good copy from last week") << "the old backup was overwritten";
	EXPECT_EQ(entriesIn(stored.parent_path()), 1u) << "the partial copy was left behind";

	ASSERT_TRUE(provider.uploadFile((scratch / "intro.mp4").string(),
					"obs-cloud-backup/media/1_intro.mp4", nullptr));
	EXPECT_EQ(fs::file_size(stored), 1u << 20);
}

TEST(AtomicFile, NewCopyAppearsOnlyWhenComplete)
{
	ScratchFolder scratch;
	writeFile(scratch / "clip.mp4", std::string(1 << 20, 'c'));
	fs::create_directories(scratch / "media");
	{
		FileSizeLimit limit(64 * 1024);
		EXPECT_NE(copyFileAtomically(scratch / "clip.mp4", scratch / "media/clip.mp4"), "");
	}
	EXPECT_EQ(entriesIn(scratch / "media"), 0u) << "a partial copy is visible";

	ASSERT_EQ(copyFileAtomically(scratch / "clip.mp4", scratch / "media/clip.mp4"), "");
	EXPECT_EQ(fs::file_size(scratch / "media/clip.mp4"), 1u << 20);
	EXPECT_EQ(entriesIn(scratch / "media"), 1u) << "a temporary file was left beside the copy";
}

// A second name for the old file shows whether it was rewritten in place (a reader would see
// it change) or replaced as a whole.
TEST(AtomicFile, CopyOverAnExistingFileReplacesItWhole)
{
	ScratchFolder scratch;
	writeFile(scratch / "new.ini", "new");
	writeFile(scratch / "backup/basic.ini", "old");
	fs::create_hard_link(scratch / "backup/basic.ini", scratch / "reader-view.ini");
	ASSERT_EQ(copyFileAtomically(scratch / "new.ini", scratch / "backup/basic.ini"), "");
	EXPECT_EQ(readFile(scratch / "backup/basic.ini"), "new");
	EXPECT_EQ(readFile(scratch / "reader-view.ini"), "old");
	EXPECT_EQ(entriesIn(scratch / "backup"), 1u);

	fs::create_directories(scratch / "backup/taken.ini");
	EXPECT_NE(copyFileAtomically(scratch / "new.ini", scratch / "backup/taken.ini"), "");
	EXPECT_TRUE(fs::is_empty(scratch / "backup/taken.ini"));
	EXPECT_EQ(entriesIn(scratch / "backup"), 2u);
}

// A fresh name takes the copy directly; a failed copy is removed, and whatever already holds
// the name (a leftover, a planted link) is replaced whole, never written through.
TEST(AtomicFile, CopyToAFreshNameWritesInPlaceAndReplacesWhatIsThere)
{
	ScratchFolder scratch;
	writeFile(scratch / "clip.mp4", std::string(1 << 20, 'c'));
	fs::permissions(scratch / "clip.mp4", fs::perms::owner_all | fs::perms::group_read);
	fs::create_directories(scratch / "media");
	{
		FileSizeLimit limit(64 * 1024);
		EXPECT_NE(copyFileToFreshName(scratch / "clip.mp4", scratch / "media/clip.mp4"), "");
	}
	EXPECT_EQ(entriesIn(scratch / "media"), 0u) << "the failed copy was left behind";
	uint64_t reported = 0;
	ASSERT_EQ(copyFileToFreshName(scratch / "clip.mp4", scratch / "media/clip.mp4",
				      [&](uint64_t copied, uint64_t) { reported = copied; }),
		  "");
	EXPECT_EQ(reported, 1u << 20);
	EXPECT_EQ(readFile(scratch / "media/clip.mp4"), readFile(scratch / "clip.mp4"));
	EXPECT_EQ(fs::status(scratch / "media/clip.mp4").permissions(),
		  fs::perms::owner_all | fs::perms::group_read);

	writeFile(scratch / "media/partial.mp4", "cut short");
	fs::create_hard_link(scratch / "media/partial.mp4", scratch / "reader-view.mp4");
	writeFile(scratch / "elsewhere.txt", "not yours");
	fs::create_symlink(scratch / "elsewhere.txt", scratch / "media/linked.mp4");
	for (const char *taken : {"media/partial.mp4", "media/linked.mp4"}) {
		ASSERT_EQ(copyFileToFreshName(scratch / "clip.mp4", scratch / taken), "") << taken;
		EXPECT_FALSE(fs::is_symlink(scratch / taken));
		EXPECT_EQ(fs::file_size(scratch / taken), 1u << 20);
	}
	EXPECT_EQ(readFile(scratch / "reader-view.mp4"), "cut short");
	EXPECT_EQ(readFile(scratch / "elsewhere.txt"), "not yours");
	EXPECT_EQ(entriesIn(scratch / "media"), 3u) << "a temporary file was left beside the copies";
	EXPECT_NE(copyFileToFreshName(scratch / "missing", scratch / "media/missing"), "");
	EXPECT_NE(copyFileToFreshName(scratch / "media", scratch / "media/folder"), "");
	EXPECT_EQ(entriesIn(scratch / "media"), 3u);
}

TEST(AtomicFile, CopyRefusesSourcesThatAreNotFiles)
{
	ScratchFolder scratch;
	// A pipe has no end to copy to: opening it must not wait for a writer.
	ASSERT_EQ(mkfifo((scratch / "pipe").c_str(), 0600), 0);
	EXPECT_NE(copyFileAtomically(scratch / "pipe", scratch / "copy"), "");
	EXPECT_NE(copyFileAtomically(scratch.root(), scratch / "copy"), "");
	EXPECT_NE(copyFileAtomically(scratch / "missing", scratch / "copy"), "");
	EXPECT_EQ(entriesIn(scratch.root()), 1u);
}

TEST(AtomicFile, CopyKeepsSourcePermissionsAndWriteKeepsTargets)
{
	ScratchFolder scratch;
	writeFile(scratch / "script.sh", "#!/bin/sh\n");
	fs::permissions(scratch / "script.sh", fs::perms::owner_all | fs::perms::group_read);
	ASSERT_EQ(copyFileAtomically(scratch / "script.sh", scratch / "copy.sh"), "");
	EXPECT_EQ(fs::status(scratch / "copy.sh").permissions(),
		  fs::perms::owner_all | fs::perms::group_read);

	writeFile(scratch / "global.ini", "old");
	fs::permissions(scratch / "global.ini",
			fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
	ASSERT_EQ(writeFileAtomically(scratch / "global.ini", "new"), "");
	EXPECT_EQ(readFile(scratch / "global.ini"), "new");
	EXPECT_EQ(fs::status(scratch / "global.ini").permissions(),
		  fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);

	ASSERT_EQ(writeFileAtomically(scratch / "secret.json", "{}", true), "");
	EXPECT_EQ(fs::status(scratch / "secret.json").permissions(),
		  fs::perms::owner_read | fs::perms::owner_write);
}

TEST(AtomicFile, WritesThroughALinkAndReportsFailures)
{
	ScratchFolder scratch;
	writeFile(scratch / "dotfiles/global.ini", "old");
	fs::create_symlink(scratch / "dotfiles/global.ini", scratch / "global.ini");
	ASSERT_EQ(writeFileAtomically(scratch / "global.ini", "new"), "");
	EXPECT_TRUE(fs::is_symlink(scratch / "global.ini"));
	EXPECT_EQ(readFile(scratch / "dotfiles/global.ini"), "new");

	EXPECT_NE(writeFileAtomically(scratch / "no/such/folder/x", "bytes"), "");
	fs::create_directories(scratch / "a-folder");
	EXPECT_NE(writeFileAtomically(scratch / "a-folder", "bytes"), "");
	EXPECT_TRUE(fs::is_directory(scratch / "a-folder"));
	EXPECT_EQ(entriesIn(scratch.root()), 3u); // dotfiles, global.ini, a-folder: no leftovers
}

TEST(AtomicFile, InterruptedWriteKeepsTheOldContent)
{
	ScratchFolder scratch;
	writeFile(scratch / "scene.json", "{\"name\":\"Main\"}");
	{
		FileSizeLimit limit(4096);
		EXPECT_NE(writeFileAtomically(scratch / "scene.json", std::string(100000, ' ')), "");
	}
	EXPECT_EQ(readFile(scratch / "scene.json"), "{\"name\":\"Main\"}");
	EXPECT_EQ(entriesIn(scratch.root()), 1u);
}

} // namespace
} // namespace kestrel
