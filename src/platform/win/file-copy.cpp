#include "platform/file-copy.h"

#include "platform/temp-files.h"
#include "platform/win/wide-text.h"

#include <system_error>

namespace kestrel::platform {

std::string copyToUniqueFile(const std::string &source, const std::string &folder, const std::string &prefix,
			     std::string &error)
{
	const std::wstring from = toWide(source);
	const DWORD attributes = GetFileAttributesW(from.c_str());
	if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
		const DWORD code = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
		error = std::system_category().message(static_cast<int>(code));
		return {};
	}
	std::string created = createUniqueFile(folder, prefix, error);
	if (created.empty())
		return {};
	const std::wstring to = toWide(created);
	if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
		error = std::system_category().message(static_cast<int>(GetLastError()));
		DeleteFileW(to.c_str());
		return {};
	}
	return created;
}

} // namespace kestrel::platform
