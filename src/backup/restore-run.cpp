#include "backup/backup-manager.h"

#include "backup/active-collection.h"
#include "backup/path-remap.h"
#include "backup/run-steps.h"
#include "backup/stored-manifest.h"
#include "backup/verified-download.h"
#include "module/log.h"
#include "providers/remote-path.h"
#include "providers/utf8-path.h"

#include <filesystem>

namespace kestrel {

namespace {

std::string lowerExtension(const std::string &path)
{
	return asciiLowerCase(utf8FromPath(pathFromUtf8(path).extension()));
}

std::string stemOf(const std::string &path)
{
	return utf8FromPath(pathFromUtf8(path).stem());
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
	const std::shared_ptr<void> hold = provider_->holdBackup(std::chrono::seconds(3));
	if (!hold) {
		summary.message = provider_->lastError();
		return summary;
	}
	const auto start = std::filesystem::file_time_type::clock::now();
	const std::vector<RestoreStep> plan = planRestore(manifest);
	summary.total = static_cast<int32_t>(plan.size());
	const std::vector<PathMove> moves =
	    pathMovesOf(plan, findSourceHome(manifest), environment_.homeFolder);
	const std::string requestedName = restoreCollectionName;
	KESTREL_LOG(LOG_INFO, "Restore: %d file(s)", summary.total);

	const auto skipped = [this](const std::string &reason, const std::string &file) {
		return "  " + (skippedLine ? skippedLine(reason, file) : "Skipped (" + reason + "): " + file);
	};

	std::string activeName, activeStem;
	for (size_t k = 0; k < plan.size(); ++k) {
		const BackupEntry &entry = *plan[k].entry;
		const int32_t index = static_cast<int32_t>(k) + 1;
		const bool firstCollection = plan[k].firstCollection;
		if (!plan[k].refusal.empty()) {
			++summary.skipped;
			const std::string why = refusalText(plan[k]);
			summary.skippedFiles.push_back(why);
			log(skipped(plan[k].refusal, refusedPlace(plan[k])));
			KESTREL_LOG(LOG_WARNING, "Restore skipped %s \u2014 %s", entry.name.c_str(),
				    why.c_str());
			continue;
		}
		const std::string &destination = plan[k].destination;
		log("Restoring: " + entry.name);
		KESTREL_LOG(LOG_INFO, "Restoring %s -> %s", entry.remotePath.c_str(), destination.c_str());
		if (destination != entry.originalLocal)
			KESTREL_LOG(LOG_INFO, "  (remapped from %s)", entry.originalLocal.c_str());
		std::string error;
		if (!downloadVerified(*provider_, entry, destination,
				      runProgressFor(progress, index, summary.total), error)) {
			++summary.skipped;
			summary.skippedFiles.push_back(destination + ": " + error);
			log(skipped("error", error));
			KESTREL_LOG(LOG_WARNING, "Restore skipped %s \u2014 %s", entry.name.c_str(),
				    error.c_str());
			continue;
		}
		++summary.done;
		const std::string extension = lowerExtension(destination);
		if (extension == ".json" || extension == ".ini")
			rewriteEmbeddedPaths(destination, moves, log);
		if (firstCollection) {
			if (!requestedName.empty()) {
				setCollectionName(destination, requestedName, log);
				activeName = requestedName;
			} else {
				activeName = readCollectionName(destination);
			}
			activeStem = stemOf(destination);
			if (activeName.empty())
				activeName = activeStem;
		}
	}
	if (!activeStem.empty())
		activateCollection(environment_.obsPaths.configDir, activeName, activeStem, log);
	removeStaleCopies(plan, start);

	// A restore that restored nothing has failed, whatever the reason per file.
	if (summary.done == 0) {
		summary.message = summary.total == 0
				      ? "Nothing to restore: the backup lists no files."
				      : "Nothing could be restored: all " + std::to_string(summary.total) +
					    " file(s) failed. See the log for the reasons.";
		log("Restore failed. 0 files restored, " + std::to_string(summary.skipped) + " skipped.");
		return summary;
	}
	log("Restore complete. " + std::to_string(summary.done) + " files restored.");
	summary.success = true;
	return summary;
}

} // namespace kestrel
