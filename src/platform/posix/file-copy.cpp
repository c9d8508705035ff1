#include "platform/file-copy.h"

#include "platform/posix/unique-file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace kestrel::platform {

namespace {

// Returned by the unnamed-file route when the folder's file system cannot hold unnamed files.
constexpr int kUnsupported = -1;
// Returned by the fresh-name route, before it copied anything, when something has the name.
constexpr int kNameTaken = -2;

int lastError()
{
	return errno ? errno : EIO;
}

class Descriptor {
public:
	explicit Descriptor(int fd) : fd_(fd) {}
	~Descriptor()
	{
		if (fd_ >= 0)
			close(fd_);
	}
	Descriptor(const Descriptor &) = delete;
	Descriptor &operator=(const Descriptor &) = delete;

	int get() const { return fd_; }
	// Network file systems may report a failed write only here.
	bool closeNow()
	{
		const int result = close(fd_);
		fd_ = -1;
		return result == 0;
	}

private:
	int fd_;
};

// What a copy may carry over of its source's mode.
constexpr mode_t kCopiedModeBits = 0775;

// Progress is reported after each piece of this size.
constexpr size_t kPiece = 16 << 20;

// Counts the bytes copied and passes them on to the caller's progress.
struct CopyCounter {
	const CopyProgress &progress;
	uint64_t total;
	uint64_t copied = 0;

	void add(uint64_t bytes)
	{
		copied += bytes;
		if (progress)
			progress(copied, total);
	}
};

bool copyByReading(int in, int out, CopyCounter &counter)
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
		counter.add(static_cast<uint64_t>(got));
	}
}

// copy_file_range lets the kernel (or the storage below it) copy without passing the bytes
// through this process; older kernels and some file systems refuse it.
bool copyContents(int in, int out, CopyCounter &counter)
{
	bool copiedAny = false;
	for (;;) {
		ssize_t copied = copy_file_range(in, nullptr, out, nullptr, kPiece, 0);
		if (copied > 0) {
			copiedAny = true;
			counter.add(static_cast<uint64_t>(copied));
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
		return copyByReading(in, out, counter);
	}
}

std::string folderOf(const std::string &path)
{
	const auto slash = path.rfind('/');
	if (slash == std::string::npos)
		return ".";
	return slash == 0 ? "/" : path.substr(0, slash);
}

// Linking an unnamed file goes through its /proc/self/fd entry, so it needs /proc.
bool unnamedFilesPossible()
{
	static const bool possible = access("/proc/self/fd", X_OK) == 0;
	return possible;
}

// Names the finished unnamed file `self` at a fresh unique name: linkat never replaces or
// follows an existing name, so a name planted in the folder cannot redirect it.
int linkUnderUniqueName(const std::string &self, const std::string &folder, const std::string &prefix,
			std::string &name)
{
	static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
	for (int attempt = 0; attempt < 100; ++attempt) {
		unsigned char random[6];
		if (getentropy(random, sizeof random) != 0)
			return lastError();
		name = folder + '/' + prefix;
		for (unsigned char byte : random)
			name += kLetters[byte % (sizeof kLetters - 1)];
		if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
			return 0;
		if (errno != EEXIST)
			return lastError();
	}
	return EEXIST;
}

// A free target name takes the file straight away; an existing target is replaced by a rename,
// which swaps the whole file at once.
int publish(int fd, const std::string &target, const std::string &prefix)
{
	const std::string self = "/proc/self/fd/" + std::to_string(fd);
	if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0)
		return 0;
	if (errno != EEXIST)
		return lastError();
	std::string sibling;
	if (const int failure = linkUnderUniqueName(self, folderOf(target), prefix, sibling))
		return failure;
	if (rename(sibling.c_str(), target.c_str()) == 0)
		return 0;
	const int failure = lastError();
	unlink(sibling.c_str());
	return failure;
}

// The copy has no name until it is complete, so an interruption (even a crash) leaves nothing
// behind, and a new file costs no rename.
int copyThroughUnnamedFile(int in, mode_t mode, const std::string &target, const std::string &prefix,
			   CopyCounter &counter)
{
	Descriptor out(open(folderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
	if (out.get() < 0)
		return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? kUnsupported : lastError();
	if (fchmod(out.get(), mode & kCopiedModeBits) != 0 || !copyContents(in, out.get(), counter))
		return lastError();
	return publish(out.get(), target, prefix);
}

int copyThroughNamedFile(int in, mode_t mode, const std::string &target, const std::string &prefix,
			 CopyCounter &counter)
{
	std::string sibling;
	Descriptor out(openUniqueFile(folderOf(target), prefix, sibling));
	if (out.get() < 0)
		return lastError();
	if (fchmod(out.get(), mode & kCopiedModeBits) == 0 && copyContents(in, out.get(), counter) &&
	    out.closeNow() && rename(sibling.c_str(), target.c_str()) == 0)
		return 0;
	const int failure = lastError();
	unlink(sibling.c_str());
	return failure;
}

// Straight at a name nothing relies on yet: no unnamed file, no link, no rename.
int copyToFreshName(int in, mode_t mode, const std::string &target, CopyCounter &counter)
{
	Descriptor out(open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
	if (out.get() < 0)
		return errno == EEXIST ? kNameTaken : lastError();
	if (fchmod(out.get(), mode & kCopiedModeBits) == 0 && copyContents(in, out.get(), counter) &&
	    out.closeNow())
		return 0;
	const int failure = lastError();
	unlink(target.c_str());
	return failure;
}

// Opens `source` and hands it to `copy` with its permissions and a counter for its bytes.
template <typename Copy>
std::string copyRegularFile(const std::string &source, const CopyProgress &progress, const Copy &copy)
{
	// Non-blocking so that a FIFO in place of a file cannot stall the run; regular files ignore it.
	Descriptor in(open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
	if (in.get() < 0)
		return std::strerror(errno);
	struct stat info {};
	if (fstat(in.get(), &info) != 0)
		return std::strerror(errno);
	if (!S_ISREG(info.st_mode))
		return S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
	CopyCounter counter{progress, static_cast<uint64_t>(info.st_size)};
	errno = 0;
	const int failure = copy(in.get(), info.st_mode, counter);
	return failure == 0 ? std::string() : std::strerror(failure);
}

int copyIntoPlace(int in, mode_t mode, const std::string &target, const std::string &prefix,
		  CopyCounter &counter)
{
	const int failure =
	    unnamedFilesPossible() ? copyThroughUnnamedFile(in, mode, target, prefix, counter) : kUnsupported;
	if (failure != kUnsupported)
		return failure;
	errno = 0;
	counter.copied = 0;
	return copyThroughNamedFile(in, mode, target, prefix, counter);
}

} // namespace

std::string copyFileIntoPlace(const std::string &source, const std::string &target, const std::string &prefix,
			      const CopyProgress &progress)
{
	return copyRegularFile(source, progress, [&](int in, mode_t mode, CopyCounter &counter) {
		return copyIntoPlace(in, mode, target, prefix, counter);
	});
}

std::string copyFileToFreshName(const std::string &source, const std::string &target,
				const std::string &prefix, const CopyProgress &progress)
{
	return copyRegularFile(source, progress, [&](int in, mode_t mode, CopyCounter &counter) {
		const int failure = copyToFreshName(in, mode, target, counter);
		if (failure != kNameTaken)
			return failure;
		// The name is taken (a leftover of a run that died): replace it whole.
		errno = 0;
		return copyIntoPlace(in, mode, target, prefix, counter);
	});
}

namespace {

// Read, not set: umask() would change it for every thread of the process for a moment.
mode_t currentUmask()
{
	std::ifstream status("/proc/self/status");
	for (std::string line; std::getline(status, line);)
		if (line.rfind("Umask:", 0) == 0)
			return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
	return 022;
}

} // namespace

std::string giveNewFilePermissions(const std::string &path)
{
	if (chmod(path.c_str(), 0666 & ~currentUmask() & ~S_IWOTH) != 0)
		return std::strerror(errno);
	return {};
}

} // namespace kestrel::platform
