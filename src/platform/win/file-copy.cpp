#include "platform/file-copy.h"

#include "platform/temp-files.h"
#include "platform/win/wide-text.h"

#include <system_error>

namespace kestrel::platform {

namespace {

std::string systemMessage(DWORD code)
{
	return std::system_category().message(static_cast<int>(code));
}

std::string folderOf(const std::string &path)
{
	const auto separator = path.find_last_of("\\/");
	return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

DWORD CALLBACK reportProgress(LARGE_INTEGER total, LARGE_INTEGER copied, LARGE_INTEGER, LARGE_INTEGER, DWORD,
			      DWORD, HANDLE, HANDLE, LPVOID progress)
{
	(*static_cast<const CopyProgress *>(progress))(static_cast<uint64_t>(copied.QuadPart),
						       static_cast<uint64_t>(total.QuadPart));
	return PROGRESS_CONTINUE;
}

// CopyFileExW, with the caller's progress when there is one.
BOOL copyFile(const std::wstring &from, const std::wstring &to, const CopyProgress &progress, DWORD flags)
{
	return CopyFileExW(from.c_str(), to.c_str(), progress ? &reportProgress : nullptr,
			   progress ? const_cast<CopyProgress *>(&progress) : nullptr, nullptr, flags);
}

// Why `from` cannot be copied: missing or a folder; empty when it can.
std::string unusableSource(const std::wstring &from)
{
	const DWORD attributes = GetFileAttributesW(from.c_str());
	if (attributes == INVALID_FILE_ATTRIBUTES)
		return systemMessage(GetLastError());
	return attributes & FILE_ATTRIBUTE_DIRECTORY ? systemMessage(ERROR_DIRECTORY) : std::string();
}

} // namespace

// Windows has no unnamed files that can be named later, so the copy always goes through a
// sibling created exclusively, which a replacing move puts in place.
std::string copyFileIntoPlace(const std::string &source, const std::string &target, const std::string &prefix,
			      const CopyProgress &progress)
{
	const std::wstring from = toWide(source);
	if (const std::string error = unusableSource(from); !error.empty())
		return error;
	std::string error;
	const std::string sibling = createUniqueFile(folderOf(target), prefix, error);
	if (sibling.empty())
		return error;
	const std::wstring copy = toWide(sibling);
	if (copyFile(from, copy, progress, 0) &&
	    MoveFileExW(copy.c_str(), toWide(target).c_str(), MOVEFILE_REPLACE_EXISTING))
		return {};
	error = systemMessage(GetLastError());
	DeleteFileW(copy.c_str());
	return error;
}

std::string copyFileToFreshName(const std::string &source, const std::string &target,
				const std::string &prefix, const CopyProgress &progress)
{
	const std::wstring from = toWide(source);
	if (const std::string error = unusableSource(from); !error.empty())
		return error;
	const std::wstring to = toWide(target);
	if (copyFile(from, to, progress, COPY_FILE_FAIL_IF_EXISTS))
		return {};
	const DWORD failure = GetLastError();
	if (failure == ERROR_FILE_EXISTS || failure == ERROR_ALREADY_EXISTS)
		return copyFileIntoPlace(source, target, prefix, progress);
	DeleteFileW(to.c_str());
	return systemMessage(failure);
}

// Access comes from the folder's inherited rights; only the attributes a copy brings along
// (read-only, hidden, system) go.
std::string giveNewFilePermissions(const std::string &path)
{
	if (!SetFileAttributesW(toWide(path).c_str(), FILE_ATTRIBUTE_NORMAL))
		return systemMessage(GetLastError());
	return {};
}

} // namespace kestrel::platform
