#include "backup/backup-history.h"
#include "backup/backup-manager.h"
#include "backup/utf8-text.h"

#include "fuzz-support.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace kestrel;
namespace fs = std::filesystem;

namespace {

// A backup folder of this process's own, with a folder outside it that nothing may touch.
const fs::path &scratch()
{
	static const fs::path root = [] {
		char name[] = "/tmp/kestrel-fuzz-history-XXXXXX";
		fuzz::require(mkdtemp(name) != nullptr, "a scratch folder");
		std::atexit([] { fs::remove_all(scratch()); });
		return fs::path(name);
	}();
	return root;
}

void write(const fs::path &file, const std::string &bytes)
{
	std::ofstream(file, std::ios::binary) << bytes;
}

std::string read(const fs::path &file)
{
	std::ifstream in(file, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

void requirePrintable(const std::string &text)
{
	const std::string shown = printable(text);
	fuzz::require(isValidUtf8(shown), "printed text is UTF-8");
	fuzz::require(std::none_of(shown.begin(), shown.end(),
				   [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }),
		      "printed text holds no control characters");
}

} // namespace

// The input, split at NUL bytes, is the published manifest, two history files and the name of a
// stored media file, in a backup folder that also holds links (to /dev/zero and to a folder
// outside) and a FIFO. Listing the history, fetching the manifest and pruning never hang, never
// fault, and never touch anything outside the backup folder.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> pieces(1);
	for (size_t i = 0; i < size; ++i) {
		if (data[i] == 0 && pieces.size() < 4)
			pieces.emplace_back();
		else
			pieces.back() += static_cast<char>(data[i]);
	}
	pieces.resize(4);

	const fs::path outside = scratch() / "outside", folder = scratch() / "backup/obs-cloud-backup";
	fs::remove_all(scratch() / "backup");
	fs::create_directories(outside);
	write(outside / "keep.txt", "keep");
	for (const char *sub : {"history", "media", "scenes"})
		fs::create_directories(folder / sub);
	write(folder / "manifest.json", pieces[0]);
	write(folder / "history/2026-01-01T00-00-00Z.json", pieces[1]);
	write(folder / "history/2026-01-02T00-00-00Z-2.json", pieces[2]);
	if (const std::string &name = pieces[3];
	    !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos)
		write(folder / "media" / name, "stored");
	fs::create_symlink("/dev/zero", folder / "history/2026-01-03T00-00-00Z.json");
	mkfifo((folder / "history/2026-01-04T00-00-00Z.json").c_str(), 0600);
	fs::create_directory_symlink(outside, folder / "media/outside");

	BackupEnvironment environment;
	environment.tempFolder = scratch().string();
	BackupManager manager(environment);
	manager.localPath = (scratch() / "backup").string();
	manager.setProvider(ProviderKind::LocalFolder);
	const RunLog quiet = [](const std::string &) {};
	std::vector<BackupManifest> backups;
	manager.fetchHistory(backups, quiet);
	for (const auto &backup : backups)
		requirePrintable(backup.createdAt);
	BackupManifest manifest;
	if (manager.fetchManifest(manifest, quiet))
		requirePrintable(manifest.createdAt);
	BackupHistory history(manager.provider(), environment.tempFolder);
	history.load(quiet, false);
	history.prune(true, quiet);

	fuzz::require(read(outside / "keep.txt") == "keep", "nothing outside the backup folder changes");
	fuzz::require(std::distance(fs::directory_iterator(outside), fs::directory_iterator()) == 1,
		      "nothing is written outside the backup folder");
	return 0;
}
