#pragma once

#include "backup/backup-types.h"
#include "providers/cloud-provider.h"

#include <map>
#include <optional>
#include <set>

namespace kestrel {

// How many backups stay restorable.
inline constexpr size_t kKeptBackups = 5;
// At most this many history files are read, newest first, and no more once they hold this much.
inline constexpr size_t kMostHistoryRead = 100;
inline constexpr uint64_t kLargestHistory = uint64_t(256) << 20;

// The backups already in a back-end: the published manifest ("obs-cloud-backup/manifest.json")
// and the history of every published manifest ("obs-cloud-backup/history/<date>.json"). A run
// uses it to reuse unchanged files, to never overwrite a file that a kept backup names, and to
// remove what no kept backup names once its own manifest is published.
class BackupHistory {
public:
	// `kept`: how many backups stay restorable.
	BackupHistory(ICloudProvider &provider, std::string tempFolder, size_t kept = kKeptBackups);

	// Reads the published manifest and the history; a damaged, oversized or unreadable one is
	// skipped with a warning. With `repair`, a published manifest missing from the history (a
	// run stopped right after publishing) is added to it.
	void load(const RunLog &log, bool repair = true);

	// Every kept backup, newest first.
	std::vector<BackupManifest> backups() const;

	// The published backup's entry for a local file (the plug-in files included).
	const BackupEntry *previousEntry(const std::string &originalLocal,
					 const std::string &remotePath) const;

	// Size of a stored file; -1 when it is not there.
	int64_t storedSize(const std::string &remotePath);

	// The stored file's SHA-256, read in place or through a download; nothing when unreadable.
	std::optional<std::string> storedSha256(const std::string &remotePath);

	// Whether a file last changed at `modified` (file-system clock, ns) may have changed after
	// the published backup was made; true when there is none or its date is unknown.
	bool changedSincePublished(int64_t modified) const;

	// `plain` when no kept backup names it, otherwise a name beside it carrying the run's date.
	// The name is reserved for this run.
	std::string freeRemotePath(const std::string &plain, const std::string &createdAt);

	// Stores the manifest as "manifest.json", the moment the new backup replaces the previous
	// one, then adds it to the history. An empty result means success.
	std::string publish(const BackupManifest &manifest);

	// Removes the regular files that backups made (named by a manifest read, kept or dropped,
	// or reserved by this run) and no kept backup names; then drops the oldest backups beyond
	// the kept count when `dropOld`. Links and files no backup made are left alone.
	void prune(bool dropOld, const RunLog &log);

private:
	struct Kept {
		std::string remotePath; // in "history/"
		BackupManifest manifest;
		std::string text; // the manifest's bytes as stored, to tell equal ones apart
	};

	void loadHistory(const RunLog &log);
	std::string upload(const std::string &bytes, const std::string &remotePath);
	std::string historyPath(const BackupManifest &manifest) const;
	void listStored(const std::string &remoteFolder, std::vector<std::string> &files);

	ICloudProvider &provider_;
	std::string tempFolder_;
	size_t kept_;
	std::optional<BackupManifest> published_;
	std::map<std::string, BackupEntry> previous_; // by local path (remote path for install texts)
	std::vector<Kept> history_;
	std::set<std::string> reserved_;
	std::map<std::string, std::map<std::string, int64_t>> storedFolders_; // folder -> name -> size
};

} // namespace kestrel
