#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrel {

// One file of a backup.
struct BackupEntry {
	BackupEntry() = default;
	// The four keys every manifest has; the stored copy's hash and time are extras.
	BackupEntry(std::string name, std::string remotePath, std::string originalLocal, int64_t size)
	    : name(std::move(name)), remotePath(std::move(remotePath)),
	      originalLocal(std::move(originalLocal)), size(size)
	{
	}

	std::string name;          // last path component
	std::string remotePath;    // where it lies in the back-end
	std::string originalLocal; // full local path at backup time, exactly as found
	int64_t size = 0;          // -1 when the size could not be read
	std::string sha256;        // of the stored bytes; empty when unknown (older backups)
	int64_t modified = 0;      // the file's last change at backup time (file-system clock, ns); 0 unknown
};

struct BackupManifest {
	std::string createdAt;
	std::string obsVersion;
	std::string providerName;
	std::vector<BackupEntry> sceneCollections;
	std::vector<BackupEntry> profiles;
	std::vector<BackupEntry> mediaFiles;
	// The plug-in's library and install texts stored beside the backup (not restored).
	std::vector<BackupEntry> pluginFiles;
};

// The result of a backup or restore run.
struct BackupSummary {
	int32_t total = 0;
	int32_t done = 0;      // stored or restored
	int32_t unchanged = 0; // of `done`: files a backup kept from the previous one, not copied
	int32_t skipped = 0;
	bool success = false;
	bool published = false; // a backup run made a new backup
	std::string message;    // why a run failed as a whole
	// Each file that was not stored or restored: its path, a colon and the reason.
	std::vector<std::string> skippedFiles;

	// Of `done`, the files stored anew.
	int32_t copied() const { return done - unchanged; }
};

enum class ProviderKind : int32_t { GoogleDrive = 0, OneDrive = 1, LocalFolder = 2 };

// (file name, percent of the current file, 1-based index of the file, number of files).
using RunProgress =
    std::function<void(const std::string &fileName, int32_t percent, int32_t index, int32_t total)>;
// One line for the user's log pane.
using RunLog = std::function<void(const std::string &line)>;

} // namespace kestrel
