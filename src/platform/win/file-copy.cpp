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

} // namespace

// Windows has no unnamed files that can be named later, so the copy always goes through a
// sibling created exclusively, which a replacing move puts in place.
std::string copyFileIntoPlace(const std::string &source, const std::string &target, const std::string &prefix,
			      const CopyProgress &progress)
{
	const std::wstring from = toWide(source);
	const DWORD attributes = GetFileAttributesW(from.c_str());
	if (attributes == INVALID_FILE_ATTRIBUTES)
		return systemMessage(GetLastError());
	if (attributes & FILE_ATTRIBUTE_DIRECTORY)
		return systemMessage(ERROR_DIRECTORY);
	std::string error;
	const std::string sibling = createUniqueFile(folderOf(target), prefix, error);
	if (sibling.empty())
		return error;
	const std::wstring copy = toWide(sibling);
	const BOOL copied = progress ? CopyFileExW(from.c_str(), copy.c_str(), &reportProgress,
						   const_cast<CopyProgress *>(&progress), nullptr, 0)
				     : CopyFileW(from.c_str(), copy.c_str(), FALSE);
	if (copied && MoveFileExW(copy.c_str(), toWide(target).c_str(), MOVEFILE_REPLACE_EXISTING))
		return {};
	error = systemMessage(GetLastError());
	DeleteFileW(copy.c_str());
	return error;
}

} // namespace kestrel::platform
