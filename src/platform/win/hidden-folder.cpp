#include "platform/hidden-folder.h"

#include "platform/win/wide-text.h"

#include <filesystem>

namespace kestrel::platform {

std::string markedHiddenFolderAbove(const std::string &path)
{
	const std::filesystem::path full(toWide(path));
	std::filesystem::path folder = full.root_path();
	const std::filesystem::path folders = full.relative_path().parent_path();
	for (const auto &part : folders) {
		folder /= part;
		const DWORD attributes = GetFileAttributesW(folder.c_str());
		if (attributes == INVALID_FILE_ATTRIBUTES)
			return {}; // nothing further down exists yet
		if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
		    (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
			return toUtf8(folder.c_str());
	}
	return {};
}

} // namespace kestrel::platform
