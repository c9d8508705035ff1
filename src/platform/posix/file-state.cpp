#include "platform/file-state.h"

#include <sys/stat.h>

#include <chrono>

namespace kestrel::platform {

// One stat instead of the two that std::filesystem needs for size and time: runs read both for
// thousands of files.
std::optional<FileState> fileState(const std::string &path)
{
	struct stat info {};
	if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
		return std::nullopt;
	using namespace std::chrono;
	const auto changed = system_clock::time_point(duration_cast<system_clock::duration>(
	    seconds(info.st_mtim.tv_sec) + nanoseconds(info.st_mtim.tv_nsec)));
	return FileState{
	    static_cast<uint64_t>(info.st_size),
	    time_point_cast<std::filesystem::file_time_type::duration>(file_clock::from_sys(changed))};
}

} // namespace kestrel::platform
