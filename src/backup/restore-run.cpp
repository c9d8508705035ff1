#include "backup/backup-manager.h"

#include "backup/active-collection.h"
#include "backup/path-remap.h"
#include "backup/run-steps.h"
#include "backup/run-tally.h"
#include "backup/stored-manifest.h"
#include "backup/verified-download.h"
#include "common/log.h"
#include "providers/remote-path.h"
#include "providers/utf8-path.h"

#include <filesystem>

namespace kestrel {

namespace {

std::string lowerExtension(const std::string &path)
{
	return asciiLowerCase(utf8FromPath(pathFromUtf8(path).extension()));
}

constexpr RunWords kRestoreWords{"Restore", "restored", "restored", "See the log for the reasons."};

std::string stemOf(const std::string &path)
{
	return utf8FromPath(pathFromUtf8(path).stem());
}

struct ActiveCollection {
	std::string name;
	std::string stem;
};

// The collection restored first becomes the active one: under the requested name (written into
// the file), else the name the file holds, else the file's stem.
ActiveCollection nameRestoredCollection(const std::string &destination, const std::string &requestedName,
					const RunLog &log)
{
	ActiveCollection active;
	if (!requestedName.empty()) {
		setCollectionName(destination, requestedName, log);
		active.name = requestedName;
	} else {
		active.name = readCollectionName(destination);
	}
	active.stem = stemOf(destination);
	if (active.name.empty())
		active.name = active.stem;
	return active;
}

} // namespace

bool BackupManager::fetchManifest(BackupManifest &manifest, const RunLog &log)
{
	if (!provider_ || !provider_->isAuthenticated()) {
		log("Not authenticated.");
		return false;
	}
	log("Downloading manifest\u2026");
	ManifestProblem problem;
	auto stored = readStoredManifest(*provider_, environment_.tempFolder,
					 std::string(kBackupRoot) + "/manifest.json", std::nullopt, problem);
	if (!stored) {
		log((problem.missing ? "No backup found on " : "Cannot read the backup on ") +
		    provider_->name() + ": " + problem.text);
		return false;
	}
	manifest = std::move(stored->manifest);
	log("Manifest loaded. Backup from: " + manifest.createdAt);
	return true;
}

std::vector<RestoreStep> BackupManager::planRestore(const BackupManifest &manifest) const
{
	return restorePlan(manifest, {environment_.homeFolder, environment_.obsPaths, restoreCollectionName,
				      restoreOutsideHome});
}

BackupSummary BackupManager::runRestore(const BackupManifest &manifest, RunProgress progress, RunLog log)
{
	BackupSummary summary;
	RunTally tally(summary);
	const std::shared_ptr<void> hold = provider_->holdBackup(kLockPatience);
	if (!hold) {
		summary.message = provider_->lastError();
		return summary;
	}
	const auto start = std::filesystem::file_time_type::clock::now();
	const std::vector<RestoreStep> plan = planRestore(manifest);
	tally.plan(plan.size());
	const std::vector<PathMove> moves =
	    pathMovesOf(plan, findSourceHome(manifest), environment_.homeFolder);
	const std::string requestedName = restoreCollectionName;
	KESTREL_LOG(Info, "Restore: %d file(s)", summary.total);

	const auto skipped = [this](const std::string &reason, const std::string &file) {
		return "  " + (skippedLine ? skippedLine(reason, file) : "Skipped (" + reason + "): " + file);
	};

	ActiveCollection active;
	for (size_t k = 0; k < plan.size(); ++k) {
		const BackupEntry &entry = *plan[k].entry;
		const int32_t index = static_cast<int32_t>(k) + 1;
		const bool firstCollection = plan[k].firstCollection;
		if (!plan[k].refusal.empty()) {
			const std::string why = refusalText(plan[k]);
			tally.skip(why);
			log(skipped(plan[k].refusal, refusedPlace(plan[k])));
			KESTREL_LOG(Warning, "Restore skipped %s \u2014 %s", entry.name.c_str(), why.c_str());
			continue;
		}
		const std::string &destination = plan[k].destination;
		log("Restoring: " + entry.name);
		KESTREL_LOG(Info, "Restoring %s -> %s", entry.remotePath.c_str(), destination.c_str());
		if (destination != entry.originalLocal)
			KESTREL_LOG(Info, "  (remapped from %s)", entry.originalLocal.c_str());
		std::string error;
		if (!downloadVerified(*provider_, entry, destination,
				      runProgressFor(progress, index, summary.total), error)) {
			tally.skip(destination, error);
			log(skipped("error", error));
			KESTREL_LOG(Warning, "Restore skipped %s \u2014 %s", entry.name.c_str(),
				    error.c_str());
			continue;
		}
		tally.done();
		const std::string extension = lowerExtension(destination);
		if (extension == ".json" || extension == ".ini")
			rewriteEmbeddedPaths(destination, moves, log);
		if (firstCollection)
			active = nameRestoredCollection(destination, requestedName, log);
	}
	if (!active.stem.empty())
		activateCollection(environment_.obsPaths.configDir, active.name, active.stem, log);
	removeStaleCopies(plan, start);

	// A restore that restored nothing has failed, whatever the reason per file.
	if (tally.failedWithNothingDone(kRestoreWords, log)) {
		if (summary.total == 0)
			summary.message = "Nothing to restore: the backup lists no files.";
		return summary;
	}
	log("Restore complete. " + std::to_string(summary.done) + " files restored.");
	summary.success = true;
	return summary;
}

} // namespace kestrel
