#include "platform/file-copy.h"

#include "platform/posix/unique-file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace kestrel::platform {

namespace {

bool copyByReading(int in, int out)
{
	std::vector<char> buffer(1 << 20);
	for (;;) {
		ssize_t got = read(in, buffer.data(), buffer.size());
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			return got == 0;
		for (ssize_t written = 0; written < got;) {
			ssize_t put = write(out, buffer.data() + written, static_cast<size_t>(got - written));
			if (put < 0 && errno == EINTR)
				continue;
			if (put < 0)
				return false;
			written += put;
		}
	}
}

// copy_file_range lets the kernel (or the storage below it) copy without passing the bytes
// through this process; older kernels and some file systems refuse it.
bool copyContents(int in, int out)
{
	bool copiedAny = false;
	for (;;) {
		ssize_t copied = copy_file_range(in, nullptr, out, nullptr, SSIZE_MAX, 0);
		if (copied > 0) {
			copiedAny = true;
			continue;
		}
		if (copied == 0)
			return true;
		if (errno == EINTR)
			continue;
		const bool unsupported =
		    errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP;
		if (copiedAny || !unsupported)
			return false;
		return copyByReading(in, out);
	}
}

} // namespace

std::string copyToUniqueFile(const std::string &source, const std::string &folder, const std::string &prefix,
			     std::string &error)
{
	const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
	if (in < 0) {
		error = std::strerror(errno);
		return {};
	}
	struct stat info {};
	if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
		error = std::strerror(S_ISDIR(info.st_mode) ? EISDIR : errno ? errno : EINVAL);
		close(in);
		return {};
	}
	std::string name;
	const int out = openUniqueFile(folder, prefix, name);
	if (out < 0) {
		error = std::strerror(errno);
		close(in);
		return {};
	}
	bool ok = fchmod(out, info.st_mode & 07777) == 0 && copyContents(in, out);
	int failure = ok ? 0 : errno;
	if (close(out) != 0 && ok) {
		ok = false;
		failure = errno;
	}
	close(in);
	if (!ok) {
		error = std::strerror(failure);
		unlink(name.c_str());
		return {};
	}
	return name;
}

} // namespace kestrel::platform
