#pragma once

#include "providers/cloud-provider.h"

#include <filesystem>
#include <optional>
#include <set>

namespace kestrel {

// Keeps backups in a folder the user picked, typically one a desktop sync client mirrors to a
// cloud service. The folder may be "obs-cloud-backup" itself or the folder holding it.
// Everything below that folder comes from the sync client, maybe from another person's computer:
// no operation follows a link there (a link is reported once in the OBS log and left alone),
// and listings hold only folders and regular files.
class LocalFolderProvider final : public ICloudProvider {
public:
	explicit LocalFolderProvider(std::string rootFolder);

	std::string name() const override { return "Local Folder"; }
	bool isAuthenticated() const override;
	bool authenticate() override;
	void logout() override {}
	void setClientId(const std::string &) override {}
	void setClientSecret(const std::string &) override {}
	std::string serializeTokens() const override { return {}; }
	void loadTokens(const std::string &) override {}
	bool createFolder(const std::string &remotePath) override;
	bool uploadFile(const std::string &localPath, const std::string &remotePath,
			ProgressCallback progress) override;
	// Written at its final name, without the unnamed file and link that uploadFile uses.
	bool uploadNewFile(const std::string &localPath, const std::string &remotePath,
			   ProgressCallback progress) override;
	bool downloadFile(const std::string &remotePath, const std::string &localPath,
			  ProgressCallback progress) override;
	bool listFolder(const std::string &remotePath, std::vector<RemoteEntry> &entries) override;
	std::optional<std::string> storedSha256(const std::string &remotePath) override;
	bool deleteItem(const std::string &remotePath) override;
	std::string lastError() const override { return lastError_; }
	// A lock file inside the backup folder, which the system releases when its process ends.
	std::shared_ptr<void> holdBackup(std::chrono::milliseconds patience) override;

	const std::string &rootFolder() const { return rootFolder_; }

	// Where a remote path lies on disk; empty (with the last error set) for a remote path that
	// would leave the backup folder.
	std::optional<std::filesystem::path> resolveLocalPath(const std::string &remotePath);

private:
	// `rootFolder` without a trailing separator.
	std::filesystem::path chosenFolder() const;
	// The first link on the way from the chosen folder down to `file`, the file itself included.
	std::optional<std::filesystem::path> linkOnTheWay(const std::filesystem::path &file) const;
	// True (with the last error set) when `file` lies behind or is a link.
	bool refusesLink(const std::filesystem::path &file, const std::string &remotePath);
	void reportLeftAlone(const std::filesystem::path &item, const char *what);
	bool upload(const std::string &localPath, const std::string &remotePath,
		    const ProgressCallback &progress, bool freshName);

	std::string rootFolder_;
	std::string lastError_;
	std::set<std::filesystem::path> reported_;
};

} // namespace kestrel
