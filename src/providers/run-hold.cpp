#include "providers/run-hold.h"

#include "platform/file-lock.h"
#include "providers/utf8-path.h"

#include <filesystem>

namespace kestrel {

std::shared_ptr<void> holdRun(const std::string &lockPath, const std::string &what,
			      std::chrono::milliseconds patience, std::string &error)
{
	std::error_code ec;
	std::filesystem::create_directories(pathFromUtf8(lockPath).parent_path(), ec);
	std::string reason;
	bool busy = false;
	std::shared_ptr<platform::FileLock> lock = platform::lockFile(lockPath, patience, reason, busy);
	if (!lock)
		error =
		    busy ? "Another backup or restore is using " + what + ": try again when it has finished."
			 : "Cannot lock " + lockPath + ": " + reason;
	return lock;
}

} // namespace kestrel
