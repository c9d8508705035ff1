#include "backup/backup-manager.h"

#include "backup/backup-history.h"
#include "backup/manifest.h"
#include "backup/media-policy.h"
#include "backup/remote-layout.h"
#include "backup/run-steps.h"
#include "backup/source-hasher.h"
#include "backup/temp-file.h"
#include "module/log.h"
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
// How long a run waits for another one on the same backup before it gives up.
constexpr auto kLockPatience = std::chrono::seconds(3);

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

// The previous backup's stored copy may hold this file's content: it has a hash, and the file
// and the stored copy have the size it lists.
bool previousCopyFits(const BackupEntry &previous, const SourceState &now, BackupHistory &history)
{
	return !previous.sha256.empty() && now.size >= 0 && previous.size == now.size &&
	       history.storedSize(previous.remotePath) == now.size;
}

// It does when the file's time is the same too, or when only the time moved, the hash. A hash
// taken goes to `hashed`, so a file that changed is not read twice for it.
bool holdsSameContent(const BackupEntry &previous, const SourceState &now,
		      std::optional<SourceHasher::Result> *hashed = nullptr)
{
	if (previous.modified == now.modified)
		return true;
	SourceHasher::Result hash = SourceHasher::hash(previous.originalLocal, now);
	const bool same = hash.sha256 == previous.sha256;
	if (hashed)
		*hashed = std::move(hash);
	return same;
}

bool isUnchanged(const BackupEntry &previous, const SourceState &now, BackupHistory &history)
{
	return previousCopyFits(previous, now, history) && holdsSameContent(previous, now);
}

// Takes the previous backup's copy for a file whose content it holds.
void reuse(const BackupEntry &previous, const SourceState &now, BackupEntry &entry)
{
	entry.remotePath = previous.remotePath;
	entry.size = now.size;
	entry.sha256 = previous.sha256;
	entry.modified = now.modified;
}

void confirmCopy(BackupEntry &entry, const SourceState &copied, std::string sha256)
{
	entry.size = copied.size;
	entry.sha256 = std::move(sha256);
	entry.modified = copied.modified;
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
		return "cannot read " + entry.originalLocal;
	if (start.size < 0 || sourceState(entry.originalLocal) != start)
		return "it changed while it was copied (" + entry.originalLocal + ")";
	confirmCopy(entry, start, *digest);
	return {};
}

// Files of every profile, depth first; directory links are not followed.
std::vector<BackupEntry> profileEntries(const ObsPaths &paths)
{
	std::vector<BackupEntry> entries;
	const fs::path profiles = pathFromUtf8(paths.profilesDir);
	for (const auto &folder : listProfileFolders(paths)) {
		std::error_code ec;
		for (const auto &item :
		     fs::recursive_directory_iterator(profiles / pathFromUtf8(folder), ec)) {
			if (!item.is_regular_file(ec))
				continue;
			// Relative to the walked path itself: resolving a linked file would point its
			// remote path outside the backup.
			std::string relative = utf8FromPath(item.path().lexically_relative(profiles));
			std::replace(relative.begin(), relative.end(), '\\', '/');
			entries.push_back(
			    entryFor(utf8FromPath(item.path()), kRoot + "/profiles/" + relative));
		}
	}
	return entries;
}

void logSkipped(const std::string &what, const std::string &where, const std::string &error,
		const RunLog &log)
{
	log("  Skipped: " + what + " \u2014 " + error);
	KESTREL_LOG(LOG_WARNING, "Skipped %s (%s) \u2014 %s", what.c_str(), where.c_str(), error.c_str());
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
	return summary.copied == 0 && !kept.empty() && fileCount(kept.front()) == fileCount(stored);
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

// Stores the listed files, in run order, into `stored`'s lists: only those really stored. A new
// copy counts once its source's hash is done and the source held still from before the earlier
// of copy and hash to after the later one.
void storeListed(ICloudProvider &provider, BackupHistory &history, const BackupManifest &listed,
		 BackupManifest &stored, const RunProgress &progress, const RunLog &log,
		 const std::atomic<bool> *stopRequested, BackupSummary &summary)
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
	summary.total = static_cast<int32_t>(plan.size());
	SourceHasher hasher;
	queueHashes(plan, hasher);
	auto skip = [&](const BackupEntry &entry, const std::string &error) {
		++summary.skipped;
		summary.skippedFiles.push_back(entry.originalLocal + ": " + error);
		logSkipped(entry.name, entry.originalLocal, error, log);
	};
	for (PlannedFile &file : plan) {
		throwIfStopped(stopRequested);
		BackupEntry &entry = file.entry;
		log("Uploading: " + entry.name + " (" + std::to_string(file.index) + "/" +
		    std::to_string(summary.total) + ")");
		const ProgressCallback fileProgress = runProgressFor(progress, file.index, summary.total);
		// A moved time is checked against the hash here, where the log names the file.
		if (file.previous && holdsSameContent(*file.previous, file.before, &file.hashedInPlace)) {
			reuse(*file.previous, file.before, entry);
			file.reused = true;
			if (fileProgress)
				fileProgress(entry.name, 100, 0, 0);
			continue;
		}
		entry.remotePath = history.freeRemotePath(entry.remotePath, listed.createdAt);
		file.copied = provider.uploadNewFile(entry.originalLocal, entry.remotePath, fileProgress);
		if (file.copied)
			file.afterCopy = sourceState(entry.originalLocal);
		else
			skip(entry, provider.lastError());
	}
	const std::vector<SourceHasher::Result> hashes = hasher.finish();
	for (PlannedFile &file : plan) {
		BackupEntry &entry = file.entry;
		if (!file.reused && !file.copied)
			continue;
		std::string error;
		if (!file.reused) {
			const SourceHasher::Result &hash =
			    file.hashedInPlace ? *file.hashedInPlace : hashes[file.hashTicket];
			if (!hash.sha256)
				error = "cannot read " + entry.originalLocal;
			else if (hash.heldStill && file.afterCopy == file.before)
				confirmCopy(entry, file.before, *hash.sha256);
			else
				error = copyAgain(provider,
						  runProgressFor(progress, file.index, summary.total), entry);
		}
		if (!error.empty()) {
			skip(entry, error);
			continue;
		}
		++summary.done;
		if (!file.reused)
			++summary.copied;
		file.list->push_back(std::move(entry));
	}
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
	if (!provider_ || !provider_->isAuthenticated()) {
		summary.message = "Not authenticated. Connect to a cloud provider first.";
		return summary;
	}
	const ObsPaths &paths = environment_.obsPaths;
	// A wrong folder must not replace a good backup with an empty one.
	if (listSceneCollectionFiles(paths).empty() && listProfileFolders(paths).empty()) {
		summary.message = "No OBS scene collections or profiles found in " +
				  (paths.configDir.empty() ? std::string("(no OBS configuration folder)")
							   : paths.configDir) +
				  "; nothing was backed up.";
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

	for (const auto &file : listSceneCollectionFiles(paths))
		listed.sceneCollections.push_back(entryFor(file, kRoot + "/scenes/" + lastComponent(file)));
	listed.profiles = profileEntries(paths);
	for (const auto &media : collectMediaPaths(paths)) {
		const std::string refusal = mediaRefusal(media, environment_.homeFolder, paths.configDir);
		if (refusal.empty())
			listed.mediaFiles.push_back(entryFor(media, mediaRemotePath(media)));
		else
			logSkipped(media, "not media", refusal, log);
	}

	KESTREL_LOG(LOG_INFO, "Backup set: %zu scene(s), %zu profile file(s), %zu media file(s)",
		    listed.sceneCollections.size(), listed.profiles.size(), listed.mediaFiles.size());
	log("Found " + std::to_string(listed.sceneCollections.size()) + " scene(s), " +
	    std::to_string(listed.profiles.size()) + " profile file(s), " +
	    std::to_string(listed.mediaFiles.size()) + " media file(s).");
	for (const auto &media : listed.mediaFiles)
		KESTREL_LOG(LOG_INFO, "  media: %s", media.originalLocal.c_str());

	BackupHistory history(*provider_, environment_.tempFolder,
			      static_cast<size_t>(std::clamp(autoBackup.kept, AutoBackupSettings::kMinKept,
							     AutoBackupSettings::kMaxKept)));
	history.load(log);
	// The new manifest names only what this run really holds.
	BackupManifest stored = listed;
	stored.sceneCollections.clear();
	stored.profiles.clear();
	stored.mediaFiles.clear();
	storeListed(*provider_, history, listed, stored, progress, log, stopRequested, summary);
	if (summary.done == 0) {
		summary.message = "Nothing could be backed up: all " + std::to_string(summary.total) +
				  " file(s) failed. The previous backup is unchanged.";
		log("Backup failed. 0 files uploaded, " + std::to_string(summary.skipped) + " skipped.");
		return summary;
	}

	if (skipWhenUnchanged && sameAsPrevious(stored, summary, history)) {
		log("Nothing changed since the last backup; no new backup made.");
		summary.success = true;
		return summary;
	}
	throwIfStopped(stopRequested);
	storePluginCopy(history, stored, log);

	log("Uploading manifest\u2026");
	if (const std::string error = history.publish(stored); !error.empty()) {
		log("  Warning: manifest upload failed \u2014 " + error);
		summary.message =
		    "Cannot store the manifest (" + error + "). The previous backup is unchanged.";
		return summary;
	}
	// Old backups go only after a complete run; files no kept backup names go after any.
	history.prune(summary.skipped == 0, log);

	log("Backup complete. " + std::to_string(summary.done) + " files uploaded, " +
	    std::to_string(summary.skipped) + " skipped.");
	summary.success = true;
	summary.published = true;
	return summary;
}

void BackupManager::storePluginCopy(BackupHistory &history, BackupManifest &manifest, const RunLog &log)
{
	const std::string &library = environment_.pluginLibrary;
	if (library.empty())
		return;
	const std::string fileName = lastComponent(library);
	log("Backing up plugin: " + fileName);
	KESTREL_LOG(LOG_INFO, "Backing up plugin binary: %s", library.c_str());
	// Stored in place under fixed names, so the install script finds the library beside it.
	BackupEntry copy = entryFor(library, kRoot + "/plugin/" + fileName);
	const BackupEntry *previous = history.previousEntry(copy.originalLocal, copy.remotePath);
	const SourceState now = sourceState(library);
	if (previous && previous->remotePath == copy.remotePath && isUnchanged(*previous, now, history)) {
		manifest.pluginFiles.push_back(*previous);
	} else if (provider_->uploadFile(library, copy.remotePath, nullptr)) {
		copy.size = now.size;
		copy.sha256 = platform::sha256HexOfFile(library).value_or(std::string());
		copy.modified = now.modified;
		manifest.pluginFiles.push_back(copy);
	} else {
		log("  Warning: plugin backup failed \u2014 " + provider_->lastError());
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
}

} // namespace kestrel
