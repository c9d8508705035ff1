#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrel {

// One file of a backup.
struct BackupEntry {
	std::string name;          // last path component
	std::string remotePath;    // where it lies in the back-end
	std::string originalLocal; // full local path at backup time, exactly as found
	int64_t size = 0;          // -1 when the size could not be read
};

struct BackupManifest {
	std::string createdAt;
	std::string obsVersion;
	std::string providerName;
	std::vector<BackupEntry> sceneCollections;
	std::vector<BackupEntry> profiles;
	std::vector<BackupEntry> mediaFiles;
};

// The result of a backup or restore run.
struct BackupSummary {
	int32_t total = 0;
	int32_t done = 0;
	int32_t skipped = 0;
	bool success = false;
	std::string message; // why a run failed as a whole
};

enum class ProviderKind : int32_t { GoogleDrive = 0, OneDrive = 1, LocalFolder = 2 };

// (file name, percent of the current file, 1-based index of the file, number of files).
using RunProgress =
    std::function<void(const std::string &fileName, int32_t percent, int32_t index, int32_t total)>;
// One line for the user's log pane.
using RunLog = std::function<void(const std::string &line)>;

} // namespace kestrel
