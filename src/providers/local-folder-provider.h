#pragma once

#include "providers/cloud-provider.h"

#include <filesystem>
#include <optional>

namespace kestrel {

// Keeps backups in a folder the user picked, typically one a desktop sync client mirrors to a
// cloud service. The folder may be "obs-cloud-backup" itself or the folder holding it.
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
	bool passesThroughLink(const std::filesystem::path &file) const;
	bool upload(const std::string &localPath, const std::string &remotePath,
		    const ProgressCallback &progress, bool freshName);

	std::string rootFolder_;
	std::string lastError_;
};

} // namespace kestrel
