#include "providers/local-folder-provider.h"

#include "module/log.h"
#include "platform/sha256.h"
#include "providers/atomic-file.h"
#include "providers/remote-path.h"
#include "providers/run-hold.h"
#include "providers/utf8-path.h"

#include <limits>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

// Folders are made only after a copy failed for want of one, which spares a look-up for every
// file of a run that copies thousands of them into the same few folders. Progress goes out in
// percent of the file as the bytes go, and always ends at 100.
std::string copyCreatingFolders(const fs::path &source, const fs::path &target, const fs::path &reportedFile,
				const ProgressCallback &progress, bool freshName = false)
{
	int32_t reported = -1;
	const std::function<void(uint64_t, uint64_t)> percent = [&](uint64_t copied, uint64_t total) {
		const auto now =
		    static_cast<int32_t>(total == 0 || copied >= total ? 100 : copied * 100 / total);
		if (now != reported)
			progress(utf8FromPath(reportedFile.filename()), reported = now, 0, 0);
	};
	const auto &perByte = progress ? percent : nullptr;
	const auto copy = freshName ? &copyFileToFreshName : &copyFileAtomically;
	std::string error = copy(source, target, perByte);
	if (!error.empty()) {
		std::error_code ec;
		const fs::path folder = target.parent_path();
		if (folder.empty() || fs::exists(folder, ec))
			return error;
		if (!fs::create_directories(folder, ec))
			return "cannot create folder " + utf8FromPath(folder) + ": " + ec.message();
		if (error = copy(source, target, perByte); !error.empty())
			return error;
	}
	if (progress && reported != 100)
		progress(utf8FromPath(reportedFile.filename()), 100, 0, 0);
	return error;
}

} // namespace

LocalFolderProvider::LocalFolderProvider(std::string rootFolder) : rootFolder_(std::move(rootFolder)) {}

bool LocalFolderProvider::isAuthenticated() const
{
	std::error_code ec;
	return !rootFolder_.empty() && fs::is_directory(pathFromUtf8(rootFolder_), ec);
}

bool LocalFolderProvider::authenticate()
{
	if (rootFolder_.empty()) {
		lastError_ = "No backup folder selected.";
		return false;
	}
	const fs::path root = pathFromUtf8(rootFolder_);
	std::error_code ec;
	fs::create_directories(root, ec);
	if (ec) {
		lastError_ = "Cannot create folder " + rootFolder_ + ": " + ec.message();
		return false;
	}
	if (!fs::is_directory(root, ec)) {
		lastError_ = "Path is not a folder: " + rootFolder_;
		return false;
	}
	lastError_.clear();
	return true;
}

fs::path LocalFolderProvider::chosenFolder() const
{
	fs::path folder = pathFromUtf8(rootFolder_);
	if (folder.has_relative_path() && folder.filename().empty())
		folder = folder.parent_path();
	return folder;
}

// The chosen folder itself may be a link (moved to another disk); nothing below it may: the
// folder is filled by a sync client, maybe from another person's computer.
std::optional<fs::path> LocalFolderProvider::linkOnTheWay(const fs::path &file) const
{
	fs::path walked = chosenFolder();
	for (const auto &part : file.lexically_relative(walked)) {
		walked /= part;
		std::error_code ec;
		const auto status = fs::symlink_status(walked, ec);
		if (fs::is_symlink(status))
			return walked;
		if (!fs::exists(status))
			break;
	}
	return std::nullopt;
}

bool LocalFolderProvider::refusesLink(const fs::path &file, const std::string &remotePath)
{
	const auto link = linkOnTheWay(file);
	if (!link)
		return false;
	lastError_ = "Refused a link in the backup folder: " + remotePath;
	reportLeftAlone(*link, "link");
	return true;
}

void LocalFolderProvider::reportLeftAlone(const fs::path &item, const char *what)
{
	if (reported_.insert(item).second)
		KESTREL_LOG(LOG_WARNING, "Left alone a %s in the backup folder: %s", what,
			    utf8FromPath(item).c_str());
}

std::optional<fs::path> LocalFolderProvider::resolveLocalPath(const std::string &remotePath)
{
	if (!isSafeRemotePath(remotePath)) {
		lastError_ = "Refused remote path outside the backup folder: " + remotePath;
		return std::nullopt;
	}
	fs::path base = chosenFolder();
	if (base.filename() == kBackupRoot)
		base = base.parent_path();
	return base / pathFromUtf8(remotePath);
}

bool LocalFolderProvider::createFolder(const std::string &remotePath)
{
	const auto folder = resolveLocalPath(remotePath);
	if (!folder || refusesLink(*folder, remotePath))
		return false;
	std::error_code ec;
	fs::create_directories(*folder, ec);
	if (ec) {
		lastError_ = ec.message();
		return false;
	}
	return true;
}

bool LocalFolderProvider::uploadFile(const std::string &localPath, const std::string &remotePath,
				     ProgressCallback progress)
{
	return upload(localPath, remotePath, progress, false);
}

bool LocalFolderProvider::uploadNewFile(const std::string &localPath, const std::string &remotePath,
					ProgressCallback progress)
{
	return upload(localPath, remotePath, progress, true);
}

bool LocalFolderProvider::upload(const std::string &localPath, const std::string &remotePath,
				 const ProgressCallback &progress, bool freshName)
{
	const auto destination = resolveLocalPath(remotePath);
	if (!destination || refusesLink(*destination, remotePath))
		return false;
	const fs::path source = pathFromUtf8(localPath);
	if (std::string error = copyCreatingFolders(source, *destination, source, progress, freshName);
	    !error.empty()) {
		lastError_ = "Copy failed (" + localPath + "): " + error;
		return false;
	}
	return true;
}

bool LocalFolderProvider::downloadFile(const std::string &remotePath, const std::string &localPath,
				       ProgressCallback progress)
{
	const auto source = resolveLocalPath(remotePath);
	if (!source)
		return false;
	std::error_code ec;
	if (!fs::exists(*source, ec)) {
		lastError_ = "Not found in backup folder: " + remotePath;
		return false;
	}
	if (refusesLink(*source, remotePath))
		return false;
	const fs::path destination = pathFromUtf8(localPath);
	if (std::string error = copyCreatingFolders(*source, destination, destination, progress);
	    !error.empty()) {
		lastError_ = "Copy failed (" + remotePath + "): " + error;
		return false;
	}
	return true;
}

std::optional<std::string> LocalFolderProvider::storedSha256(const std::string &remotePath)
{
	const auto file = resolveLocalPath(remotePath);
	if (!file || refusesLink(*file, remotePath))
		return std::nullopt;
	return platform::sha256HexOfFile(utf8FromPath(*file));
}

bool LocalFolderProvider::listFolder(const std::string &remotePath, std::vector<RemoteEntry> &entries)
{
	const auto folder = resolveLocalPath(remotePath);
	if (!folder || refusesLink(*folder, remotePath))
		return false;
	std::error_code ec;
	if (!fs::is_directory(*folder, ec)) {
		lastError_ = "Not a folder: " + remotePath;
		return false;
	}
	for (const auto &child : fs::directory_iterator(*folder, ec)) {
		const auto status = child.symlink_status(ec);
		if (!fs::is_directory(status) && !fs::is_regular_file(status)) {
			reportLeftAlone(child.path(), fs::is_symlink(status) ? "link" : "special file");
			continue;
		}
		RemoteEntry entry;
		entry.name = utf8FromPath(child.path().filename());
		entry.path = remotePath + "/" + entry.name;
		entry.isFolder = fs::is_directory(status);
		if (!entry.isFolder) {
			const auto size = child.file_size(ec);
			entry.size = ec ? std::numeric_limits<uint64_t>::max() : size;
		}
		entries.push_back(std::move(entry));
	}
	return true;
}

bool LocalFolderProvider::deleteItem(const std::string &remotePath)
{
	const auto target = resolveLocalPath(remotePath);
	if (!target || refusesLink(*target, remotePath))
		return false;
	// Links inside a removed folder go as names; their targets stay untouched.
	std::error_code ec;
	fs::remove_all(*target, ec);
	if (ec) {
		lastError_ = ec.message();
		return false;
	}
	return true;
}

} // namespace kestrel

namespace kestrel {

std::shared_ptr<void> LocalFolderProvider::holdBackup(std::chrono::milliseconds patience)
{
	const auto folder = resolveLocalPath(kBackupRoot);
	if (refusesLink(*folder, kBackupRoot))
		return nullptr;
	return holdRun(utf8FromPath(*folder / ".kestrel-run.lock"), utf8FromPath(*folder), patience,
		       lastError_);
}

} // namespace kestrel
