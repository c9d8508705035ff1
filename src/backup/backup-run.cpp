#include "backup/backup-manager.h"

#include "backup/backup-history.h"
#include "backup/manifest.h"
#include "backup/media-policy.h"
#include "backup/remote-layout.h"
#include "backup/run-steps.h"
#include "backup/run-tally.h"
#include "backup/source-hasher.h"
#include "backup/temp-file.h"
#include "backup/utf8-text.h"
#include "common/log.h"
#include "platform/plugin-install.h"
#include "platform/sha256.h"
#include "providers/atomic-file.h"
#include "providers/remote-path.h"
#include "providers/utf8-path.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

const std::string kRoot = kBackupRoot;
constexpr RunWords kBackupWords{"Backup", "backed up", "uploaded", "The previous backup is unchanged."};

std::string lastComponent(const std::string &path)
{
	return utf8FromPath(pathFromUtf8(path).filename());
}

BackupEntry entryFor(const std::string &localPath, std::string remotePath)
{
	BackupEntry entry;
	entry.name = lastComponent(localPath);
	entry.remotePath = std::move(remotePath);
	entry.originalLocal = localPath;
	return entry;
}

// The previous backup's stored copy may hold this file's content: it has the file's size, and
// so does its entry where it lists one. An entry with a hash fits at any time; one from a backup
// made before hashes were kept only when the file has not changed since that backup.
bool previousCopyFits(const BackupEntry &previous, const SourceState &now, BackupHistory &history)
{
	if (now.size < 0)
		return false;
	const bool hashed = !previous.sha256.empty();
	if (hashed ? previous.size != now.size
		   : (previous.size >= 0 && previous.size != now.size) ||
			 history.changedSincePublished(now.modified))
		return false;
	return history.storedSize(previous.remotePath) == now.size;
}

// The content's hash when the stored copy holds it: at once when the file's time is the same,
// otherwise when the file's hash equals the listed one or, where none is listed, the stored
// copy's own (taken once; the new manifest keeps it). A hash of the file goes to `hashed`, so a
// file that changed is not read twice for it.
std::optional<std::string> sameContentHash(const BackupEntry &previous, const SourceState &now,
					   BackupHistory &history,
					   std::optional<SourceHasher::Result> *hashed = nullptr)
{
	if (!previous.sha256.empty() && previous.modified == now.modified)
		return previous.sha256;
	const std::optional<std::string> stored =
	    previous.sha256.empty() ? history.storedSha256(previous.remotePath) : previous.sha256;
	if (!stored)
		return std::nullopt;
	SourceHasher::Result hash = SourceHasher::hash(previous.originalLocal, now);
	const bool same = hash.sha256 == stored;
	if (hashed)
		*hashed = std::move(hash);
	return same ? stored : std::nullopt;
}

// Takes the previous backup's copy for a file whose content it holds.
void reuse(const BackupEntry &previous, const SourceState &now, std::string sha256, BackupEntry &entry)
{
	entry.remotePath = previous.remotePath;
	entry.size = now.size;
	entry.sha256 = std::move(sha256);
	entry.modified = now.modified;
}

void confirmCopy(BackupEntry &entry, const SourceState &copied, std::string sha256)
{
	entry.size = copied.size;
	entry.sha256 = std::move(sha256);
	entry.modified = copied.modified;
}

// Why a listed file could not be hashed.
std::string unreadable(const std::string &file)
{
	return sourceState(file).size < 0 ? "it is no longer a regular file (" + file + ")"
					  : "cannot read " + file;
}

// A file written while it was copied (OBS saving a collection) gets one more copy, hashed at
// once. Why that failed too; empty on success.
std::string copyAgain(ICloudProvider &provider, const ProgressCallback &progress, BackupEntry &entry)
{
	const SourceState start = sourceState(entry.originalLocal);
	if (!provider.uploadFile(entry.originalLocal, entry.remotePath, progress))
		return provider.lastError();
	const std::optional<std::string> digest = platform::sha256HexOfFile(entry.originalLocal);
	if (!digest)
		return unreadable(entry.originalLocal);
	if (start.size < 0 || sourceState(entry.originalLocal) != start)
		return "it changed while it was copied (" + entry.originalLocal + ")";
	confirmCopy(entry, start, *digest);
	return {};
}

// A file or folder the listing found but leaves out, and why.
struct LeftOut {
	std::string path;
	std::string reason;
};

// Why a path cannot be stored: a name that is not UTF-8 could not be named in the manifest.
std::string unstorable(const std::string &path)
{
	return isValidUtf8(path) ? std::string() : "its name is not valid UTF-8";
}

// Appends the files below `folder`, depth first, in the file system's order; folder links are
// not followed. A folder that cannot be read is left out with the reason, the rest goes on.
void walkProfileFolder(const fs::path &folder, const fs::path &profiles, std::vector<BackupEntry> &entries,
		       std::vector<LeftOut> &leftOut)
{
	const std::string folderText = utf8FromPath(folder);
	if (std::string reason = unstorable(folderText); !reason.empty()) {
		leftOut.push_back({folderText, std::move(reason)});
		return;
	}
	std::error_code ec;
	fs::directory_iterator item(folder, ec);
	for (; !ec && item != fs::directory_iterator(); item.increment(ec)) {
		const std::string path = utf8FromPath(item->path());
		std::error_code statusError;
		if (fs::is_directory(item->symlink_status(statusError))) {
			walkProfileFolder(item->path(), profiles, entries, leftOut);
		} else if (item->is_regular_file(statusError)) {
			if (std::string reason = unstorable(path); !reason.empty()) {
				leftOut.push_back({path, std::move(reason)});
				continue;
			}
			// Relative to the walked path itself: resolving a linked file would point its
			// remote path outside the backup.
			std::string relative = utf8FromPath(item->path().lexically_relative(profiles));
			std::replace(relative.begin(), relative.end(), '\\', '/');
			entries.push_back(entryFor(path, kRoot + "/profiles/" + relative));
		}
	}
	if (ec)
		leftOut.push_back({folderText, "cannot read the folder: " + ec.message()});
}

// Why a folder OBS keeps its configuration in exists but cannot be listed; empty otherwise.
std::string unreadableFolder(const std::string &folder)
{
	std::error_code ec;
	fs::directory_iterator(pathFromUtf8(folder), ec);
	return ec && ec != std::errc::no_such_file_or_directory ? "cannot read the folder: " + ec.message()
								: std::string();
}

void logSkipped(const std::string &what, const std::string &where, const std::string &error,
		const RunLog &log)
{
	log("  Skipped: " + what + " \u2014 " + error);
	KESTREL_LOG(Warning, "Skipped %s (%s) \u2014 %s", what.c_str(), where.c_str(), error.c_str());
}

// Thrown between files when an automatic run must give up; the previous backup stays as it was.
void throwIfStopped(const std::atomic<bool> *stopRequested)
{
	if (stopRequested && stopRequested->load())
		throw std::runtime_error("Stopped before it finished; the previous backup is unchanged.");
}

size_t fileCount(const BackupManifest &manifest)
{
	return manifest.sceneCollections.size() + manifest.profiles.size() + manifest.mediaFiles.size();
}

// The new backup would name the very copies the previous one names (a file that keeps failing
// is missing from both).
bool sameAsPrevious(const BackupManifest &stored, const BackupSummary &summary, BackupHistory &history)
{
	const std::vector<BackupManifest> kept = history.backups();
	return summary.copied() == 0 && !kept.empty() && fileCount(kept.front()) == fileCount(stored);
}

// One listed file on its way into the backup.
struct PlannedFile {
	BackupEntry entry;
	std::vector<BackupEntry> *list = nullptr; // where it goes in the new manifest
	int32_t index = 0;                        // in run order, from 1
	SourceState before;                       // when the run came to it
	const BackupEntry *previous = nullptr;    // the previous backup's copy, when it may be reused
	bool reused = false;
	bool copied = false;
	std::optional<SourceHasher::Result> hashedInPlace; // taken while checking `previous`
	size_t hashTicket = 0;                             // else the hasher's
	SourceState afterCopy;
};

// Queues the hashes of the files that are copied for sure, the largest first: their hashes take
// longest, and the copies of the small files ahead of them in run order go on meanwhile.
void queueHashes(std::vector<PlannedFile> &plan, SourceHasher &hasher)
{
	std::vector<PlannedFile *> toCopy;
	for (auto &file : plan)
		if (!file.previous)
			toCopy.push_back(&file);
	std::stable_sort(toCopy.begin(), toCopy.end(), [](const PlannedFile *a, const PlannedFile *b) {
		return a->before.size > b->before.size;
	});
	for (PlannedFile *file : toCopy)
		file->hashTicket = hasher.add(file->entry.originalLocal, file->before);
}

// A file that could not be stored: counted, and logged with its reason.
void skipFile(RunTally &tally, const BackupEntry &entry, const std::string &error, const RunLog &log)
{
	tally.skip(entry.originalLocal, error);
	logSkipped(entry.name, entry.originalLocal, error, log);
}

// The listed files in run order, each with the previous backup's copy where that may hold it.
std::vector<PlannedFile> planStore(BackupHistory &history, const BackupManifest &listed,
				   BackupManifest &stored)
{
	std::vector<PlannedFile> plan;
	const std::pair<const std::vector<BackupEntry> *, std::vector<BackupEntry> *> lists[] = {
	    {&listed.sceneCollections, &stored.sceneCollections},
	    {&listed.profiles, &stored.profiles},
	    {&listed.mediaFiles, &stored.mediaFiles}};
	for (const auto &[from, to] : lists) {
		for (const BackupEntry &entry : *from) {
			PlannedFile &file = plan.emplace_back();
			file.entry = entry;
			file.list = to;
			file.index = static_cast<int32_t>(plan.size());
			file.before = sourceState(entry.originalLocal);
			const BackupEntry *previous =
			    history.previousEntry(entry.originalLocal, entry.remotePath);
			if (previous && previousCopyFits(*previous, file.before, history))
				file.previous = previous;
		}
	}
	return plan;
}

// Reuses the previous copy of each file whose content it holds and copies the others, in run
// order; the copies are confirmed once their hashes are done.
void copyPlanned(std::vector<PlannedFile> &plan, ICloudProvider &provider, BackupHistory &history,
		 const std::string &createdAt, const RunProgress &progress, const RunLog &log,
		 const std::atomic<bool> *stopRequested, RunTally &tally)
{
	for (PlannedFile &file : plan) {
		throwIfStopped(stopRequested);
		BackupEntry &entry = file.entry;
		const std::string position =
		    " (" + std::to_string(file.index) + "/" + std::to_string(tally.total()) + ")";
		const ProgressCallback fileProgress = runProgressFor(progress, file.index, tally.total());
		// A moved time is checked against the hash at the file's turn in the run.
		std::optional<std::string> sameHash;
		if (file.previous)
			sameHash = sameContentHash(*file.previous, file.before, history, &file.hashedInPlace);
		if (sameHash) {
			log("Unchanged: " + entry.name + position);
			reuse(*file.previous, file.before, std::move(*sameHash), entry);
			file.reused = true;
			tally.unchanged();
			if (fileProgress)
				fileProgress(entry.name, 100, 0, 0);
			continue;
		}
		log("Uploading: " + entry.name + position);
		entry.remotePath = history.freeRemotePath(entry.remotePath, createdAt);
		file.copied = provider.uploadNewFile(entry.originalLocal, entry.remotePath, fileProgress);
		if (file.copied)
			file.afterCopy = sourceState(entry.originalLocal);
		else
			skipFile(tally, entry, provider.lastError(), log);
	}
}

// Puts each reused file and each copy whose source held still into its list of the new
// manifest; a source that changed is copied once more.
void confirmPlanned(std::vector<PlannedFile> &plan, const std::vector<SourceHasher::Result> &hashes,
		    ICloudProvider &provider, const RunProgress &progress, const RunLog &log, RunTally &tally)
{
	for (PlannedFile &file : plan) {
		BackupEntry &entry = file.entry;
		if (!file.reused && !file.copied)
			continue;
		std::string error;
		if (!file.reused) {
			const SourceHasher::Result &hash =
			    file.hashedInPlace ? *file.hashedInPlace : hashes[file.hashTicket];
			if (!hash.sha256)
				error = unreadable(entry.originalLocal);
			else if (hash.heldStill && file.afterCopy == file.before)
				confirmCopy(entry, file.before, *hash.sha256);
			else
				error = copyAgain(provider,
						  runProgressFor(progress, file.index, tally.total()), entry);
		}
		if (!error.empty()) {
			skipFile(tally, entry, error, log);
			continue;
		}
		tally.done();
		file.list->push_back(std::move(entry));
	}
}

// Stores the listed files, in run order, into `stored`'s lists: only those really stored. A new
// copy counts once its source's hash is done and the source held still from before the earlier
// of copy and hash to after the later one.
void storeListed(ICloudProvider &provider, BackupHistory &history, const BackupManifest &listed,
		 BackupManifest &stored, const RunProgress &progress, const RunLog &log,
		 const std::atomic<bool> *stopRequested, RunTally &tally)
{
	std::vector<PlannedFile> plan = planStore(history, listed, stored);
	tally.plan(plan.size());
	SourceHasher hasher;
	queueHashes(plan, hasher);
	copyPlanned(plan, provider, history, listed.createdAt, progress, log, stopRequested, tally);
	confirmPlanned(plan, hasher.finish(), provider, progress, log, tally);
}

// Lists the files of this backup: OBS's configuration and the media its collections name. What
// cannot be taken goes to `leftOut` with the reason; refused media are only logged. Logs the set.
void listBackupSet(const BackupEnvironment &environment, BackupManifest &listed,
		   std::vector<LeftOut> &leftOut, const RunLog &log)
{
	const ObsPaths &paths = environment.obsPaths;
	for (const std::string &folder : {paths.scenesDir, paths.profilesDir})
		if (std::string reason = unreadableFolder(folder); !reason.empty())
			leftOut.push_back({folder, std::move(reason)});
	for (const auto &file : listSceneCollectionFiles(paths)) {
		if (std::string reason = unstorable(file); !reason.empty())
			leftOut.push_back({file, std::move(reason)});
		else
			listed.sceneCollections.push_back(
			    entryFor(file, kRoot + "/scenes/" + lastComponent(file)));
	}
	for (const auto &profile : listProfileFolders(paths))
		walkProfileFolder(pathFromUtf8(paths.profilesDir) / pathFromUtf8(profile),
				  pathFromUtf8(paths.profilesDir), listed.profiles, leftOut);
	for (const auto &[path, reason] : leftOut)
		logSkipped(lastComponent(path), path, reason, log);
	for (const auto &media : collectMediaPaths(paths)) {
		const std::string refusal = mediaRefusal(media, environment.homeFolder, paths.configDir);
		if (refusal.empty())
			listed.mediaFiles.push_back(entryFor(media, mediaRemotePath(media)));
		else
			logSkipped(media, "not media", refusal, log);
	}
	KESTREL_LOG(Info, "Backup set: %zu scene(s), %zu profile file(s), %zu media file(s)",
		    listed.sceneCollections.size(), listed.profiles.size(), listed.mediaFiles.size());
	log("Found " + std::to_string(listed.sceneCollections.size()) + " scene(s), " +
	    std::to_string(listed.profiles.size()) + " profile file(s), " +
	    std::to_string(listed.mediaFiles.size()) + " media file(s).");
	for (const auto &media : listed.mediaFiles)
		KESTREL_LOG(Info, "  media: %s", media.originalLocal.c_str());
}

// Why this is no OBS configuration to back up; empty when it is one. A wrong folder must not
// replace a good backup with an empty one.
std::string missingConfiguration(const ObsPaths &paths)
{
	if (!listSceneCollectionFiles(paths).empty() || !listProfileFolders(paths).empty())
		return {};
	return "No OBS scene collections or profiles found in " +
	       (paths.configDir.empty() ? std::string("(no OBS configuration folder)") : paths.configDir) +
	       "; nothing was backed up.";
}

std::string completeLine(const BackupSummary &summary)
{
	if (summary.unchanged == 0)
		return "Backup complete. " + std::to_string(summary.done) + " files uploaded, " +
		       std::to_string(summary.skipped) + " skipped.";
	return "Backup complete. " + std::to_string(summary.total) +
	       " files: " + std::to_string(summary.copied()) + " copied, " +
	       std::to_string(summary.unchanged) + " unchanged, " + std::to_string(summary.skipped) +
	       " skipped.";
}

} // namespace

uint64_t fnv1a64(const std::string &bytes)
{
	uint64_t hash = 14695981039346656037ull;
	for (unsigned char byte : bytes) {
		hash ^= byte;
		hash *= 1099511628211ull;
	}
	return hash;
}

std::string mediaRemotePath(const std::string &localPath)
{
	return kRoot + "/media/" + std::to_string(fnv1a64(localPath)) + "_" + lastComponent(localPath);
}

BackupSummary BackupManager::runBackup(RunProgress progress, RunLog log)
{
	BackupSummary summary;
	RunTally tally(summary);
	if (!provider_ || !provider_->isAuthenticated()) {
		summary.message = "Not authenticated. Connect to a cloud provider first.";
		return summary;
	}
	if (std::string missing = missingConfiguration(environment_.obsPaths); !missing.empty()) {
		summary.message = std::move(missing);
		return summary;
	}
	const std::shared_ptr<void> hold = provider_->holdBackup(kLockPatience);
	if (!hold) {
		summary.message = provider_->lastError();
		return summary;
	}
	log("Building backup list\u2026");
	BackupManifest listed;
	listed.createdAt = currentTimestamp();
	listed.obsVersion = environment_.obsVersion;
	listed.providerName = provider_->name();

	std::vector<LeftOut> leftOut;
	listBackupSet(environment_, listed, leftOut, log);
	BackupHistory history(*provider_, environment_.tempFolder,
			      static_cast<size_t>(std::clamp(autoBackup.kept, AutoBackupSettings::kMinKept,
							     AutoBackupSettings::kMaxKept)));
	history.load(log);
	// The new manifest names only what this run really holds.
	BackupManifest stored = listed;
	stored.sceneCollections.clear();
	stored.profiles.clear();
	stored.mediaFiles.clear();
	storeListed(*provider_, history, listed, stored, progress, log, stopRequested, tally);
	// What the listing left out makes the run partial.
	for (const auto &[path, reason] : leftOut)
		tally.leaveOut(path, reason);
	if (tally.failedWithNothingDone(kBackupWords, log))
		return summary;

	if (skipWhenUnchanged && sameAsPrevious(stored, summary, history)) {
		log("Nothing changed since the last backup; no new backup made.");
		summary.success = true;
		return summary;
	}
	throwIfStopped(stopRequested);
	if (const std::string error = storePluginCopy(history, stored, log); !error.empty())
		tally.leaveOut(environment_.pluginLibrary, error);

	log("Uploading manifest\u2026");
	if (const std::string error = history.publish(stored); !error.empty()) {
		log("  Warning: manifest upload failed \u2014 " + error);
		summary.message =
		    "Cannot store the manifest (" + error + "). The previous backup is unchanged.";
		return summary;
	}
	// Old backups go only after a complete run; files no kept backup names go after any.
	history.prune(summary.skipped == 0, log);

	log(completeLine(summary));
	summary.success = true;
	summary.published = true;
	return summary;
}

std::string BackupManager::storePluginCopy(BackupHistory &history, BackupManifest &manifest,
					   const RunLog &log)
{
	const std::string &library = environment_.pluginLibrary;
	std::string error;
	if (library.empty())
		return error;
	const std::string fileName = lastComponent(library);
	log("Backing up plugin: " + fileName);
	KESTREL_LOG(Info, "Backing up plugin binary: %s", library.c_str());
	// Stored in place under fixed names, so the install script finds the library beside it.
	BackupEntry copy = entryFor(library, kRoot + "/plugin/" + fileName);
	const BackupEntry *previous = history.previousEntry(copy.originalLocal, copy.remotePath);
	const SourceState now = sourceState(library);
	std::optional<std::string> sameHash;
	if (previous && previous->remotePath == copy.remotePath && previousCopyFits(*previous, now, history))
		sameHash = sameContentHash(*previous, now, history);
	if (sameHash) {
		reuse(*previous, now, std::move(*sameHash), copy);
		manifest.pluginFiles.push_back(copy);
	} else if (provider_->uploadFile(library, copy.remotePath, nullptr)) {
		copy.size = now.size;
		copy.sha256 = platform::sha256HexOfFile(library).value_or(std::string());
		copy.modified = now.modified;
		manifest.pluginFiles.push_back(copy);
	} else {
		error = provider_->lastError();
		log("  Warning: plugin backup failed \u2014 " + error);
	}

	// The install texts are a convenience; a failure to store them is not reported.
	const platform::PluginInstallFiles install = platform::pluginInstallFiles(fileName);
	const std::pair<std::string, const std::string *> texts[] = {{"INSTALL.txt", &install.instructions},
								     {install.scriptName, &install.script}};
	for (const auto &[remoteName, text] : texts) {
		BackupEntry entry;
		entry.name = remoteName;
		entry.remotePath = kRoot + "/plugin/" + remoteName;
		entry.size = static_cast<int64_t>(text->size());
		entry.sha256 = platform::sha256Hex(*text);
		previous = history.previousEntry("", entry.remotePath);
		if (previous && previous->sha256 == entry.sha256 &&
		    history.storedSize(entry.remotePath) == entry.size) {
			manifest.pluginFiles.push_back(entry);
			continue;
		}
		TempFile file(environment_.tempFolder, "Kestrel_" + remoteName + ".");
		if (file.write(*text) && provider_->uploadFile(file.path(), entry.remotePath, nullptr))
			manifest.pluginFiles.push_back(entry);
	}
	return error;
}

} // namespace kestrel
