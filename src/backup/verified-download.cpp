#include "backup/verified-download.h"

#include "platform/file-copy.h"
#include "platform/sha256.h"
#include "platform/temp-files.h"
#include "providers/atomic-file.h"
#include "providers/utf8-path.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

// Why the downloaded copy cannot take the destination's place; empty when it can.
std::string readyCopy(const BackupEntry &entry, const fs::path &copy)
{
	std::error_code ec;
	const auto size = fs::file_size(copy, ec);
	if (ec)
		return "cannot read the copy: " + ec.message();
	if (entry.size >= 0 && size != static_cast<uintmax_t>(entry.size))
		return "stored copy has " + std::to_string(size) + " bytes, the backup lists " +
		       std::to_string(entry.size);
	if (!entry.sha256.empty() && platform::sha256HexOfFile(utf8FromPath(copy)) != entry.sha256)
		return "stored copy does not match the backup's SHA-256";
	// Restored like a file made here, whatever mode the stored copy had.
	if (const std::string error = platform::giveNewFilePermissions(utf8FromPath(copy)); !error.empty())
		return "cannot set the copy's permissions: " + error;
	return {};
}

// Creates the missing folders down to `folder`; the ones it made, outermost first.
std::vector<fs::path> makeFolders(const fs::path &folder)
{
	std::vector<fs::path> missing;
	std::error_code ec;
	for (fs::path at = folder; at.has_relative_path() && !fs::exists(fs::symlink_status(at, ec));
	     at = at.parent_path())
		missing.push_back(at);
	std::vector<fs::path> made;
	for (auto at = missing.rbegin(); at != missing.rend() && fs::create_directory(*at, ec); ++at)
		made.push_back(*at);
	return made;
}

// Those of `made` that stayed empty, innermost first; a folder with anything in it stays.
void removeEmptyFolders(const std::vector<fs::path> &made)
{
	std::error_code ec;
	for (auto at = made.rbegin(); at != made.rend() && fs::remove(*at, ec); ++at) {
	}
}

} // namespace

bool downloadVerified(ICloudProvider &provider, const BackupEntry &entry, const std::string &destination,
		      const ProgressCallback &progress, std::string &error)
{
	const fs::path target = pathFromUtf8(destination);
	const fs::path folder = target.parent_path();
	const std::vector<fs::path> made = makeFolders(folder);
	// Beside the destination, so the checked copy takes its place in one rename.
	const std::string copy =
	    platform::createUniqueFile(utf8FromPath(folder), temporarySiblingPrefix(target), error);
	if (copy.empty()) {
		error = "cannot write in " + utf8FromPath(folder) + ": " + error;
		removeEmptyFolders(made);
		return false;
	}
	const fs::path copyPath = pathFromUtf8(copy);
	std::error_code ec;
	if (!provider.downloadFile(entry.remotePath, copy, progress))
		error = provider.lastError();
	else if (error = readyCopy(entry, copyPath); error.empty())
		fs::rename(copyPath, target, ec);
	if (error.empty() && ec)
		error = "cannot replace " + destination + ": " + ec.message();
	if (!error.empty()) {
		fs::remove(copyPath, ec);
		removeEmptyFolders(made);
	}
	return error.empty();
}

void removeStaleCopies(const std::vector<RestoreStep> &plan, fs::file_time_type before)
{
	std::set<fs::path> folders;
	for (const auto &step : plan)
		if (!step.destination.empty())
			folders.insert(pathFromUtf8(step.destination).parent_path());
	for (const auto &folder : folders) {
		std::error_code ec;
		for (fs::directory_iterator item(folder, ec), end; !ec && item != end; item.increment(ec)) {
			std::error_code fileError;
			if (isTemporarySibling(utf8FromPath(item->path().filename())) &&
			    item->symlink_status(fileError).type() == fs::file_type::regular &&
			    item->last_write_time(fileError) < before && !fileError)
				fs::remove(item->path(), fileError);
		}
	}
}

} // namespace kestrel
