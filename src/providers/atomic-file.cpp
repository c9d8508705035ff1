#include "providers/atomic-file.h"

#include "platform/file-copy.h"
#include "platform/temp-files.h"
#include "providers/utf8-path.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

constexpr const char *kTemporaryMark = ".kestrel-";
// The unique part that the system's unique-file call adds: 6 letters and digits on POSIX, 8 on
// Windows.
constexpr size_t kFewestRandom = 6, kMostRandom = 8;

fs::path createSibling(const fs::path &target, std::string &error)
{
	std::string created = platform::createUniqueFile(utf8FromPath(target.parent_path()),
							 temporarySiblingPrefix(target), error);
	return created.empty() ? fs::path() : pathFromUtf8(created);
}

// Renames the finished sibling over the target, or removes it when `error` says it is not finished.
std::string moveIntoPlace(const fs::path &sibling, const fs::path &target, std::string error)
{
	std::error_code ec;
	if (error.empty()) {
		fs::rename(sibling, target, ec);
		if (!ec)
			return {};
		error = ec.message();
	}
	fs::remove(sibling, ec);
	return error;
}

// A link at the target is followed, so the file it points to is replaced and the link stays.
fs::path followLink(const fs::path &target)
{
	std::error_code ec;
	if (!fs::is_symlink(target, ec))
		return target;
	fs::path real = fs::canonical(target, ec);
	return ec ? target : real;
}

} // namespace

// A copy goes into a backup folder or to a restore destination, where a planted link must not
// redirect it.
std::string copyFileAtomically(const fs::path &source, const fs::path &target,
			       const std::function<void(uint64_t copied, uint64_t total)> &progress)
{
	return platform::copyFileIntoPlace(utf8FromPath(source), utf8FromPath(target),
					   temporarySiblingPrefix(target), progress);
}

std::string copyFileToFreshName(const fs::path &source, const fs::path &target,
				const std::function<void(uint64_t copied, uint64_t total)> &progress)
{
	return platform::copyFileToFreshName(utf8FromPath(source), utf8FromPath(target),
					     temporarySiblingPrefix(target), progress);
}

std::string writeFileAtomically(const fs::path &linkOrTarget, std::string_view bytes, bool privateToUser)
{
	const fs::path target = followLink(linkOrTarget);
	std::string error;
	const fs::path sibling = createSibling(target, error);
	if (sibling.empty())
		return error;
	std::error_code ec;
	if (!privateToUser) {
		const auto existing = fs::status(target, ec);
		const fs::perms perms = fs::exists(existing)
					    ? existing.permissions()
					    : fs::perms::owner_read | fs::perms::owner_write |
						  fs::perms::group_read | fs::perms::others_read;
		fs::permissions(sibling, perms, ec);
	}
	{
		std::ofstream out(sibling, std::ios::binary | std::ios::trunc);
		errno = 0;
		out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
		out.flush();
		if (!out)
			error = std::error_code(errno ? errno : EIO, std::generic_category()).message();
	}
	return moveIntoPlace(sibling, target, error);
}

std::string temporarySiblingPrefix(const fs::path &target)
{
	return "." + utf8FromPath(target.filename()) + kTemporaryMark;
}

bool isTemporarySibling(const std::string &name)
{
	const size_t mark = name.rfind(kTemporaryMark);
	if (name.empty() || name[0] != '.' || mark == std::string::npos || mark == 0)
		return false;
	const std::string_view random = std::string_view(name).substr(mark + std::strlen(kTemporaryMark));
	return random.size() >= kFewestRandom && random.size() <= kMostRandom &&
	       std::all_of(random.begin(), random.end(),
			   [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

std::string withNativeLineEnds(std::string_view text)
{
	if constexpr (fs::path::preferred_separator == '/') {
		return std::string(text);
	} else {
		std::string out;
		out.reserve(text.size() + text.size() / 16);
		for (char c : text) {
			if (c == '\n')
				out += '\r';
			out += c;
		}
		return out;
	}
}

} // namespace kestrel
