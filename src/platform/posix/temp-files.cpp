#include "platform/temp-files.h"

#include "platform/posix/unique-file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kestrel::platform {

std::string temporaryFolder()
{
	std::error_code ec;
	auto folder = std::filesystem::temp_directory_path(ec);
	return ec ? std::string() : folder.string();
}

std::string createUniqueFile(const std::string &folder, const std::string &prefix, std::string &error)
{
	std::string name;
	const int fd = openUniqueFile(folder, prefix, name);
	if (fd < 0) {
		error = std::strerror(errno);
		return {};
	}
	close(fd);
	return name;
}

} // namespace kestrel::platform
