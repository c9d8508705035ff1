#include "platform/app-data-folder.h"

#include "platform/win/wide-text.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace kestrel::platform {

std::string roamingAppDataFolder()
{
	PWSTR path = nullptr;
	if (FAILED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path))) {
		CoTaskMemFree(path);
		return {};
	}
	std::string folder = toUtf8(path);
	CoTaskMemFree(path);
	return folder;
}

} // namespace kestrel::platform
