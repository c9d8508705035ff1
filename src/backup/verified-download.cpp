#include "backup/verified-download.h"

#include "platform/file-copy.h"
#include "platform/sha256.h"
#include "platform/temp-files.h"
#include "providers/utf8-path.h"

#include <algorithm>
#include <filesystem>

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

} // namespace

bool downloadVerified(ICloudProvider &provider, const BackupEntry &entry, const std::string &destination,
		      const ProgressCallback &progress, std::string &error)
{
	const fs::path target = pathFromUtf8(destination);
	const fs::path folder = target.parent_path();
	std::error_code ec;
	fs::create_directories(folder, ec);
	// Beside the destination, so the checked copy takes its place in one rename.
	const std::string copy = platform::createUniqueFile(
	    utf8FromPath(folder), "." + utf8FromPath(target.filename()) + ".", error);
	if (copy.empty()) {
		error = "cannot write in " + utf8FromPath(folder) + ": " + error;
		return false;
	}
	const fs::path copyPath = pathFromUtf8(copy);
	if (!provider.downloadFile(entry.remotePath, copy, progress))
		error = provider.lastError();
	else if (error = readyCopy(entry, copyPath); error.empty())
		fs::rename(copyPath, target, ec);
	if (error.empty() && ec)
		error = "cannot replace " + destination + ": " + ec.message();
	if (!error.empty())
		fs::remove(copyPath, ec);
	return error.empty();
}

} // namespace kestrel
