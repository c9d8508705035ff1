#include "platform/browser.h"

#include <windows.h>

#include <shellapi.h>

namespace kestrel::platform {

bool openInBrowser(const std::string &url)
{
	const auto result = ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
	// ShellExecute reports success with a value above 32.
	return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace kestrel::platform
