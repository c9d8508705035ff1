#pragma once

#include "backup/auto-backup-settings.h"
#include "backup/backup-environment.h"
#include "backup/backup-types.h"
#include "backup/restore-plan.h"
#include "providers/cloud-provider.h"

#include <atomic>
#include <functional>
#include <memory>

namespace kestrel {

class BackupHistory;

// The backup engine: the user's back-end choice and credentials, the one active back-end, and
// the backup and restore runs. Not thread-safe: one run at a time, and no settings changes
// while a run uses the back-end.
class BackupManager {
public:
	explicit BackupManager(BackupEnvironment environment);

	// Filled from the user's input and the settings file.
	std::string clientId;
	std::string clientSecret;
	std::string localPath;
	std::string restoreCollectionName; // empty = keep the backed-up name
	bool restoreOutsideHome = false;   // media that lay outside the old home goes back there
	// Words a restore's "Skipped (reason): file" log line; empty: English, as the command line
	// prints it. Called on the run's thread.
	std::function<std::string(const std::string &reason, const std::string &file)> skippedLine;
	AutoBackupSettings autoBackup; // also how many backups the history keeps

	// For automatic runs: a backup that would hold exactly the previous one's files is not
	// made, and a set flag stops the run before its next file (the previous backup stays).
	bool skipWhenUnchanged = false;
	const std::atomic<bool> *stopRequested = nullptr;

	ProviderKind providerKind() const { return providerKind_; }
	ICloudProvider &provider() const { return *provider_; }
	const ObsPaths &obsPaths() const { return environment_.obsPaths; }
	const BackupEnvironment &environment() const { return environment_; }

	// Replaces the active back-end (the local folder one takes `localPath`) and hands it the
	// client credentials; the new back-end starts without tokens.
	void setProvider(ProviderKind kind);

	// Reads "cloud-backup.json"; a missing or damaged file leaves what it could not read.
	void loadSettings();
	// Replaces "cloud-backup.json" atomically, readable by this user only (it holds
	// credentials). Throws std::runtime_error or std::filesystem::filesystem_error on failure.
	void writeSettings();

	// Stores the OBS configuration as a new backup, published as a whole only at the end: a
	// run that fails or dies leaves the previous backup as it was. Unchanged files are not
	// copied again; the last `autoBackup.kept` backups stay restorable. Partial when `skipped` > 0.
	BackupSummary runBackup(RunProgress progress, RunLog log);

	// Every backup kept in the active back-end, newest first; false when there is none.
	bool fetchHistory(std::vector<BackupManifest> &backups, const RunLog &log);

	// Downloads and reads the manifest of the backup in the active back-end into `manifest`;
	// false (manifest untouched, the log says why) when there is none, it is damaged or too
	// large, or the back-end is not connected.
	bool fetchManifest(BackupManifest &manifest, const RunLog &log);

	// Where each file of the manifest would land, or why it would be skipped.
	std::vector<RestoreStep> planRestore(const BackupManifest &manifest) const;

	// Copies every file of the manifest back to its place, below this user's home folder;
	// renames (restoreCollectionName) and activates the first scene collection.
	BackupSummary runRestore(const BackupManifest &manifest, RunProgress progress, RunLog log);

private:
	// The plug-in's library with its install texts, so a backup can set it up elsewhere;
	// listed in the manifest so an unchanged copy is not stored again. Why the library could
	// not be stored; empty when it was or there is none.
	std::string storePluginCopy(BackupHistory &history, BackupManifest &manifest, const RunLog &log);

	BackupEnvironment environment_;
	ProviderKind providerKind_ = ProviderKind::GoogleDrive;
	std::unique_ptr<ICloudProvider> provider_;
};

// 0 Google Drive, 1 OneDrive, 2 local folder; anything else is Google Drive.
ProviderKind providerKindFromNumber(int64_t number);

} // namespace kestrel
