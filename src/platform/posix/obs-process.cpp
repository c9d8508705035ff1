#include "platform/obs-process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kestrel::platform {

bool obsIsRunning()
{
	std::error_code ec;
	for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
		const std::string pid = entry.path().filename().string();
		if (pid.find_first_not_of("0123456789") != std::string::npos)
			continue;
		struct stat info {};
		if (stat(entry.path().c_str(), &info) != 0 || info.st_uid != getuid())
			continue;
		std::ifstream comm(entry.path() / "comm");
		std::string name;
		if (std::getline(comm, name) && name == "obs")
			return true;
	}
	return false;
}

} // namespace kestrel::platform
