#include "backup/backup-history.h"

#include "backup/backup-manager.h"
#include "backup/manifest.h"
#include "backup/stored-manifest.h"
#include "backup/temp-file.h"
#include "module/log.h"
#include "platform/sha256.h"
#include "providers/atomic-file.h"
#include "providers/remote-path.h"

#include <algorithm>

namespace kestrel {

namespace {

const std::string kRoot = kBackupRoot;
const std::string kPublished = kRoot + "/manifest.json";
const std::string kHistoryFolder = kRoot + "/history";

// The date as a file name can carry it everywhere (no ":" on Windows).
std::string fileNameDate(const std::string &createdAt)
{
	std::string name = createdAt.empty() ? "undated" : createdAt;
	std::replace(name.begin(), name.end(), ':', '-');
	return name;
}

std::string compactDate(const std::string &createdAt)
{
	std::string compact;
	for (char c : createdAt)
		if (c != '-' && c != ':')
			compact += c;
	return compact.empty() ? "undated" : compact;
}

// Backups of the same second are told apart by "-2", "-3"... in their history name. A number
// no run would reach counts as none.
int sameSecondNumber(const std::string &remotePath)
{
	constexpr int kLargest = 1'000'000;
	const size_t end = remotePath.size() - 5; // ".json"
	const size_t dash = remotePath.rfind('-');
	if (dash == std::string::npos || dash == 0 || remotePath[dash - 1] != 'Z' || dash + 1 >= end)
		return 1;
	int number = 0;
	for (size_t i = dash + 1; i < end; ++i) {
		if (remotePath[i] < '0' || remotePath[i] > '9' || number >= kLargest)
			return 1;
		number = number * 10 + (remotePath[i] - '0');
	}
	return number;
}

template <typename Visit> void forEachEntry(const BackupManifest &manifest, Visit visit)
{
	for (const auto *list :
	     {&manifest.sceneCollections, &manifest.profiles, &manifest.mediaFiles, &manifest.pluginFiles})
		for (const auto &entry : *list)
			visit(entry);
}

void addNamedFiles(const BackupManifest &manifest, std::set<std::string> &names)
{
	forEachEntry(manifest, [&](const BackupEntry &entry) { names.insert(entry.remotePath); });
}

} // namespace

BackupHistory::BackupHistory(ICloudProvider &provider, std::string tempFolder, size_t kept)
    : provider_(provider), tempFolder_(std::move(tempFolder)), kept_(std::max<size_t>(kept, 1))
{
}

std::string BackupHistory::upload(const std::string &bytes, const std::string &remotePath)
{
	TempFile file(tempFolder_, "obs_backup_manifest.json.");
	if (!file.write(bytes))
		return file.error();
	if (!provider_.uploadFile(file.path(), remotePath, nullptr))
		return provider_.lastError();
	return {};
}

std::string BackupHistory::historyPath(const BackupManifest &manifest) const
{
	// After the history names of the same second, which pruning may have thinned out.
	int last = 0;
	for (const auto &kept : history_)
		if (kept.manifest.createdAt == manifest.createdAt)
			last = std::max(last, sameSecondNumber(kept.remotePath));
	const std::string base = kHistoryFolder + "/" + fileNameDate(manifest.createdAt);
	return last == 0 ? base + ".json" : base + "-" + std::to_string(last + 1) + ".json";
}

void BackupHistory::load(const RunLog &log, bool repair)
{
	loadHistory(log);
	for (const auto &kept : history_)
		addNamedFiles(kept.manifest, reserved_);

	ManifestProblem problem;
	const int64_t listed = storedSize(kPublished);
	auto published =
	    readStoredManifest(provider_, tempFolder_, kPublished,
			       listed >= 0 ? std::optional<uint64_t>(listed) : std::nullopt, problem);
	if (!published) {
		if (!problem.missing)
			log("  Warning: cannot read the latest backup \u2014 " + problem.text);
		return;
	}
	const std::string &text = published->text;
	published_ = std::move(published->manifest);
	addNamedFiles(*published_, reserved_);
	forEachEntry(*published_, [&](const BackupEntry &entry) {
		previous_.emplace(entry.originalLocal.empty() ? entry.remotePath : entry.originalLocal,
				  entry);
	});
	const bool inHistory = std::any_of(history_.begin(), history_.end(),
					   [&](const Kept &kept) { return kept.text == text; });
	if (!inHistory) {
		const std::string path = historyPath(*published_);
		if (const std::string error = repair ? upload(text, path) : std::string(); !error.empty())
			log("  Warning: cannot add the previous backup to the history \u2014 " + error);
		history_.insert(history_.begin(), {path, *published_, text});
	}
}

void BackupHistory::loadHistory(const RunLog &log)
{
	std::vector<RemoteEntry> entries;
	if (!provider_.listFolder(kHistoryFolder, entries))
		return;
	std::vector<const RemoteEntry *> files;
	for (const auto &entry : entries)
		if (!entry.isFolder && entry.name.size() > 5 &&
		    entry.name.compare(entry.name.size() - 5, 5, ".json") == 0 &&
		    isSafeRemotePath(entry.path))
			files.push_back(&entry);
	// Names carry the date, so the newest come first, and only so many are read: a folder
	// flooded with files costs no more than those.
	std::sort(files.begin(), files.end(),
		  [](const RemoteEntry *a, const RemoteEntry *b) { return a->name > b->name; });
	uint64_t bytes = 0;
	for (size_t read = 0; read < files.size(); ++read) {
		if (read == kMostHistoryRead || bytes > kLargestHistory) {
			log("  Warning: " + std::to_string(files.size() - read) +
			    " older history file(s) not read");
			break;
		}
		ManifestProblem problem;
		if (auto stored = readStoredManifest(provider_, tempFolder_, files[read]->path,
						     files[read]->size, problem)) {
			bytes += stored->text.size();
			history_.push_back(
			    {files[read]->path, std::move(stored->manifest), std::move(stored->text)});
		} else {
			log("  Warning: skipped the history file " + files[read]->name + " \u2014 " +
			    problem.text);
		}
	}
	std::sort(history_.begin(), history_.end(), [](const Kept &a, const Kept &b) {
		if (a.manifest.createdAt != b.manifest.createdAt)
			return a.manifest.createdAt > b.manifest.createdAt;
		return sameSecondNumber(a.remotePath) > sameSecondNumber(b.remotePath);
	});
}

std::vector<BackupManifest> BackupHistory::backups() const
{
	std::vector<BackupManifest> manifests;
	for (const auto &kept : history_)
		manifests.push_back(kept.manifest);
	return manifests;
}

const BackupEntry *BackupHistory::previousEntry(const std::string &originalLocal,
						const std::string &remotePath) const
{
	const auto it = previous_.find(originalLocal.empty() ? remotePath : originalLocal);
	return it == previous_.end() ? nullptr : &it->second;
}

int64_t BackupHistory::storedSize(const std::string &remotePath)
{
	const size_t slash = remotePath.rfind('/');
	const std::string folder = slash == std::string::npos ? std::string() : remotePath.substr(0, slash);
	auto listed = storedFolders_.find(folder);
	if (listed == storedFolders_.end()) {
		std::vector<RemoteEntry> entries;
		std::map<std::string, int64_t> sizes;
		if (provider_.listFolder(folder, entries))
			for (const auto &entry : entries)
				if (!entry.isFolder)
					sizes[entry.name] = static_cast<int64_t>(entry.size);
		listed = storedFolders_.emplace(folder, std::move(sizes)).first;
	}
	const auto file = listed->second.find(remotePath.substr(slash + 1));
	return file == listed->second.end() ? -1 : file->second;
}

std::optional<std::string> BackupHistory::storedSha256(const std::string &remotePath)
{
	if (auto inPlace = provider_.storedSha256(remotePath))
		return inPlace;
	TempFile file(tempFolder_, "obs_stored_copy.");
	if (file.path().empty() || !provider_.downloadFile(remotePath, file.path(), nullptr))
		return std::nullopt;
	return platform::sha256HexOfFile(file.path());
}

bool BackupHistory::changedSincePublished(int64_t modified) const
{
	using namespace std::chrono;
	const auto madeAt = published_ ? timestampTime(published_->createdAt) : std::nullopt;
	if (!madeAt)
		return true;
	// The date is cut to the second; a change within that second may still predate the backup.
	const auto end = file_clock::from_sys(*madeAt + seconds(1));
	return nanoseconds(modified) >= duration_cast<nanoseconds>(end.time_since_epoch());
}

std::string BackupHistory::freeRemotePath(const std::string &plain, const std::string &createdAt)
{
	std::string path = plain;
	if (reserved_.count(path)) {
		const size_t slash = plain.rfind('/') + 1;
		const size_t dot = plain.rfind('.');
		const bool hasExtension = dot != std::string::npos && dot > slash;
		const std::string stem = hasExtension ? plain.substr(0, dot) : plain;
		const std::string extension = hasExtension ? plain.substr(dot) : std::string();
		const std::string dated = stem + "." + compactDate(createdAt);
		path = dated + extension;
		for (int n = 2; reserved_.count(path); ++n)
			path = dated + "-" + std::to_string(n) + extension;
	}
	reserved_.insert(path);
	return path;
}

std::string BackupHistory::publish(const BackupManifest &manifest)
{
	std::string text = withNativeLineEnds(manifestToJson(manifest));
	if (const std::string error = upload(text, kPublished); !error.empty())
		return error;
	// A history entry that fails now is added by the next run's load.
	const std::string path = historyPath(manifest);
	if (upload(text, path).empty())
		history_.insert(history_.begin(), {path, manifest, std::move(text)});
	published_ = manifest;
	return {};
}

void BackupHistory::listStored(const std::string &remoteFolder, std::vector<std::string> &files)
{
	std::vector<RemoteEntry> entries;
	if (!provider_.listFolder(remoteFolder, entries))
		return;
	for (const auto &entry : entries) {
		if (entry.isFolder)
			listStored(entry.path, files);
		else
			files.push_back(entry.path);
	}
}

void BackupHistory::prune(bool dropOld, const RunLog &log)
{
	const size_t keep = dropOld ? std::min(history_.size(), kept_) : history_.size();
	std::set<std::string> kept;
	for (size_t i = 0; i < keep; ++i)
		addNamedFiles(history_[i].manifest, kept);
	if (published_)
		addNamedFiles(*published_, kept);
	// Only files a backup made go: those its manifests name (kept or dropped) and this run's
	// own. Whatever else lies in the folder belongs to someone else.
	std::set<std::string> ours = reserved_;
	for (const auto &backup : history_)
		addNamedFiles(backup.manifest, ours);
	std::vector<std::string> stored;
	for (const char *folder : {"/scenes", "/profiles", "/media"})
		listStored(kRoot + folder, stored);
	int removed = 0;
	for (const auto &file : stored) {
		if (!ours.count(file) || kept.count(file))
			continue;
		if (provider_.deleteItem(file))
			++removed;
		else
			KESTREL_LOG(LOG_WARNING, "Cannot remove %s: %s", file.c_str(),
				    provider_.lastError().c_str());
	}
	if (removed > 0)
		KESTREL_LOG(LOG_INFO, "Removed %d stored file(s) that no kept backup names", removed);
	// The dropped manifests go after their files, so a run stopped in between leaves them for
	// the next run to finish.
	while (history_.size() > keep) {
		if (!provider_.deleteItem(history_.back().remotePath)) {
			log("  Warning: cannot remove an old backup \u2014 " + provider_.lastError());
			break;
		}
		KESTREL_LOG(LOG_INFO, "Removed the backup of %s from the history",
			    history_.back().manifest.createdAt.c_str());
		history_.pop_back();
	}
}

} // namespace kestrel

namespace kestrel {

bool BackupManager::fetchHistory(std::vector<BackupManifest> &backups, const RunLog &log)
{
	if (!provider_ || !provider_->isAuthenticated()) {
		log("Not authenticated.");
		return false;
	}
	BackupHistory history(*provider_, environment_.tempFolder);
	history.load(log, false);
	backups = history.backups();
	if (backups.empty())
		log("No backup found on " + provider_->name() + ".");
	else
		log(std::to_string(backups.size()) + " backup(s) found; the newest is from " +
		    backups.front().createdAt + ".");
	return !backups.empty();
}

} // namespace kestrel
