#include "backup/backup-manager.h"

#include "backup/manifest.h"
#include "backup/remote-layout.h"
#include "backup/run-steps.h"
#include "backup/temp-file.h"
#include "module/log.h"
#include "platform/plugin-install.h"
#include "providers/atomic-file.h"
#include "providers/remote-path.h"
#include "providers/utf8-path.h"

#include <algorithm>
#include <filesystem>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

const std::string kRoot = kBackupRoot;

std::string lastComponent(const std::string &path)
{
	return utf8FromPath(pathFromUtf8(path).filename());
}

int64_t sizeOf(const fs::path &file)
{
	std::error_code ec;
	const auto size = fs::file_size(file, ec);
	return ec ? -1 : static_cast<int64_t>(size);
}

BackupEntry entryFor(const std::string &localPath, std::string remotePath)
{
	return {lastComponent(localPath), std::move(remotePath), localPath, sizeOf(pathFromUtf8(localPath))};
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

void logSkipped(const BackupEntry &entry, const std::string &error, const RunLog &log)
{
	log("  Skipped: " + entry.name + " \u2014 " + error);
	KESTREL_LOG(LOG_WARNING, "Skipped %s (%s) \u2014 %s", entry.name.c_str(), entry.originalLocal.c_str(),
		    error.c_str());
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
	log("Building backup list\u2026");
	BackupManifest manifest;
	manifest.createdAt = currentTimestamp();
	manifest.obsVersion = environment_.obsVersion;
	manifest.providerName = provider_->name();

	const ObsPaths &paths = environment_.obsPaths;
	for (const auto &file : listSceneCollectionFiles(paths))
		manifest.sceneCollections.push_back(entryFor(file, kRoot + "/scenes/" + lastComponent(file)));
	manifest.profiles = profileEntries(paths);
	for (const auto &media : collectMediaPaths(paths))
		manifest.mediaFiles.push_back(entryFor(media, mediaRemotePath(media)));

	KESTREL_LOG(LOG_INFO, "Backup set: %zu scene(s), %zu profile file(s), %zu media file(s)",
		    manifest.sceneCollections.size(), manifest.profiles.size(), manifest.mediaFiles.size());
	log("Found " + std::to_string(manifest.sceneCollections.size()) + " scene(s), " +
	    std::to_string(manifest.profiles.size()) + " profile file(s), " +
	    std::to_string(manifest.mediaFiles.size()) + " media file(s).");
	for (const auto &media : manifest.mediaFiles)
		KESTREL_LOG(LOG_INFO, "  media: %s", media.originalLocal.c_str());

	const std::vector<const BackupEntry *> all = entriesInRunOrder(manifest);
	summary.total = static_cast<int32_t>(all.size());

	int32_t index = 0;
	for (const BackupEntry *entry : all) {
		++index;
		log("Uploading: " + entry->name + " (" + std::to_string(index) + "/" +
		    std::to_string(summary.total) + ")");
		if (provider_->uploadFile(entry->originalLocal, entry->remotePath,
					  runProgressFor(progress, index, summary.total))) {
			++summary.done;
		} else {
			++summary.skipped;
			logSkipped(*entry, provider_->lastError(), log);
		}
	}

	uploadPluginCopy(log);

	log("Uploading manifest\u2026");
	TempFile manifestFile(environment_.tempFolder, "obs_backup_manifest.json.");
	if (!manifestFile.write(withNativeLineEnds(manifestToJson(manifest))))
		log("  Warning: manifest upload failed \u2014 " + manifestFile.error());
	else if (!provider_->uploadFile(manifestFile.path(), kRoot + "/manifest.json", nullptr))
		log("  Warning: manifest upload failed \u2014 " + provider_->lastError());

	log("Backup complete. " + std::to_string(summary.done) + " files uploaded, " +
	    std::to_string(summary.skipped) + " skipped.");
	summary.success = summary.done > 0 || summary.total == 0;
	return summary;
}

void BackupManager::uploadPluginCopy(const RunLog &log)
{
	const std::string &library = environment_.pluginLibrary;
	if (library.empty())
		return;
	const std::string fileName = lastComponent(library);
	log("Backing up plugin: " + fileName);
	KESTREL_LOG(LOG_INFO, "Backing up plugin binary: %s", library.c_str());
	if (!provider_->uploadFile(library, kRoot + "/plugin/" + fileName, nullptr))
		log("  Warning: plugin backup failed \u2014 " + provider_->lastError());

	// The install texts are a convenience; a failure to store them is not reported.
	const platform::PluginInstallFiles install = platform::pluginInstallFiles(fileName);
	const std::pair<const char *, const std::string *> texts[] = {
	    {"INSTALL.txt", &install.instructions}, {install.scriptName.c_str(), &install.script}};
	for (const auto &[remoteName, text] : texts) {
		TempFile file(environment_.tempFolder, std::string("Kestrel_") + remoteName + ".");
		if (file.write(*text))
			provider_->uploadFile(file.path(), kRoot + "/plugin/" + remoteName, nullptr);
	}
}

} // namespace kestrel
