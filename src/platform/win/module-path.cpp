#include "platform/module-path.h"

#include "platform/win/wide-text.h"

#include <windows.h>

#include <vector>

namespace kestrel::platform {

std::string ownLibraryPath()
{
	HMODULE module = nullptr;
	if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
				    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
				reinterpret_cast<LPCWSTR>(&ownLibraryPath), &module))
		return {};
	std::vector<wchar_t> buffer(MAX_PATH);
	for (;;) {
		DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
		if (length == 0)
			return {};
		if (length < buffer.size())
			return toUtf8(buffer.data(), static_cast<int>(length));
		buffer.resize(buffer.size() * 2);
	}
}

bool keepOwnLibraryLoaded()
{
	HMODULE module = nullptr;
	return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
				  reinterpret_cast<LPCWSTR>(&keepOwnLibraryLoaded), &module) != 0;
}

} // namespace kestrel::platform
