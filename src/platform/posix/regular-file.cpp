#include "platform/regular-file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrel::platform {

namespace {

std::optional<std::string> readOpenFile(int fd, uint64_t maxBytes, std::string &error)
{
	struct stat info {};
	if (fstat(fd, &info) != 0) {
		error = std::strerror(errno);
		return std::nullopt;
	}
	if (!S_ISREG(info.st_mode)) {
		error = "not a regular file";
		return std::nullopt;
	}
	std::string bytes;
	bytes.reserve(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(info.st_size), maxBytes)));
	char buffer[1 << 16];
	for (;;) {
		const ssize_t got = read(fd, buffer, sizeof buffer);
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0) {
			error = std::strerror(errno);
			return std::nullopt;
		}
		if (got == 0)
			return bytes;
		if (bytes.size() + static_cast<size_t>(got) > maxBytes) {
			error = "larger than " + std::to_string(maxBytes) + " bytes";
			return std::nullopt;
		}
		bytes.append(buffer, static_cast<size_t>(got));
	}
}

} // namespace

std::optional<std::string> readRegularFile(const std::string &path, uint64_t maxBytes, std::string &error)
{
	// Looked at first, so a device in a file's place is never even opened.
	struct stat info {};
	if (stat(path.c_str(), &info) != 0) {
		error = std::strerror(errno);
		return std::nullopt;
	}
	if (!S_ISREG(info.st_mode)) {
		error = "not a regular file";
		return std::nullopt;
	}
	const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0) {
		error = std::strerror(errno);
		return std::nullopt;
	}
	std::optional<std::string> bytes = readOpenFile(fd, maxBytes, error);
	close(fd);
	return bytes;
}

} // namespace kestrel::platform
