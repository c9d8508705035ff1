#include "providers/remote-path.h"

namespace kestrel {

bool isSafeRemotePath(const std::string &remotePath)
{
	const std::string root = std::string(kBackupRoot) + "/";
	if (remotePath != kBackupRoot && remotePath.compare(0, root.size(), root) != 0)
		return false;
	// Windows also splits at "\", so both separators end a component everywhere.
	size_t start = 0;
	while (start <= remotePath.size()) {
		size_t end = remotePath.find_first_of("/\\", start);
		if (end == std::string::npos)
			end = remotePath.size();
		if (remotePath.compare(start, end - start, "..") == 0)
			return false;
		start = end + 1;
	}
	return true;
}

} // namespace kestrel
