#include "platform/file-lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace kestrel::platform {

namespace {

// flock belongs to the open file, so two locks taken in one process exclude each other too.
class FlockedFile final : public FileLock {
public:
	explicit FlockedFile(int fd) : fd_(fd) {}
	~FlockedFile() override { close(fd_); }

private:
	int fd_;
};

} // namespace

std::unique_ptr<FileLock> lockFile(const std::string &path, std::chrono::milliseconds patience,
				   std::string &error, bool &busy)
{
	busy = false;
	const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
	if (fd < 0) {
		error = std::strerror(errno);
		return nullptr;
	}
	const auto deadline = std::chrono::steady_clock::now() + patience;
	for (;;) {
		if (flock(fd, LOCK_EX | LOCK_NB) == 0)
			return std::make_unique<FlockedFile>(fd);
		if (errno != EWOULDBLOCK && errno != EINTR) {
			error = std::strerror(errno);
			break;
		}
		if (std::chrono::steady_clock::now() >= deadline) {
			busy = true;
			error = "held by another run";
			break;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
	close(fd);
	return nullptr;
}

} // namespace kestrel::platform
