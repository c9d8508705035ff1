#include "platform/home-folder.h"

#include "platform/win/wide-text.h"

#include <cstdlib>

namespace kestrel::platform {

std::string homeFolder()
{
	const wchar_t *profile = _wgetenv(L"USERPROFILE");
	return profile ? toUtf8(profile) : std::string();
}

} // namespace kestrel::platform
