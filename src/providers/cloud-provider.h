#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// (file name, percent of this file 0-100, two values the engine ignores). May be empty.
using ProgressCallback = std::function<void(const std::string &fileName, int32_t percent, int32_t, int32_t)>;

// One child of a listed remote folder.
struct RemoteEntry {
	std::string name;
	std::string id; // the service's item id; empty for the local folder
	std::string path;
	uint64_t size = 0;
	bool isFolder = false;
};

// A storage back-end holding files under slash-separated remote paths such as
// "obs-cloud-backup/manifest.json". Operations block; failures return false (or an empty text)
// and leave an English reason in lastError().
class ICloudProvider {
public:
	virtual ~ICloudProvider() = default;

	virtual std::string name() const = 0;
	virtual bool isAuthenticated() const = 0;
	virtual bool authenticate() = 0;
	virtual void logout() = 0;
	virtual void setClientId(const std::string &clientId) = 0;
	virtual void setClientSecret(const std::string &clientSecret) = 0;
	virtual std::string serializeTokens() const = 0;
	virtual void loadTokens(const std::string &json) = 0;
	virtual bool createFolder(const std::string &remotePath) = 0;
	virtual bool uploadFile(const std::string &localPath, const std::string &remotePath,
				ProgressCallback progress) = 0;
	// Stores a file under a remote path no backup names yet, where a copy cut short harms no one
	// and is cleared away later; back-ends may store it more cheaply than uploadFile does.
	virtual bool uploadNewFile(const std::string &localPath, const std::string &remotePath,
				   ProgressCallback progress)
	{
		return uploadFile(localPath, remotePath, std::move(progress));
	}
	virtual bool downloadFile(const std::string &remotePath, const std::string &localPath,
				  ProgressCallback progress) = 0;
	virtual bool listFolder(const std::string &remotePath, std::vector<RemoteEntry> &entries) = 0;
	// The SHA-256 of a stored file, where the back-end can read it in place; nothing where only
	// a download would tell.
	virtual std::optional<std::string> storedSha256(const std::string & /*remotePath*/)
	{
		return std::nullopt;
	}
	virtual bool deleteItem(const std::string &remotePath) = 0;
	virtual std::string lastError() const = 0;

	// One run at a time per backup: waits up to `patience` while another run (of any process)
	// holds the backup, then gives up with nothing and lastError() set. The backup stays held
	// until the returned object is released. Back-ends that cannot lock hold nothing.
	virtual std::shared_ptr<void> holdBackup(std::chrono::milliseconds /*patience*/)
	{
		return std::make_shared<bool>(true);
	}
};

} // namespace kestrel
