#include "platform/module-path.h"

#include <windows.h>

#include <vector>

namespace kestrel::platform {

namespace {

std::string toUtf8(const wchar_t *text, int length)
{
	int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
	if (size <= 0)
		return {};
	std::string out(static_cast<size_t>(size), '\0');
	WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
	return out;
}

} // namespace

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

} // namespace kestrel::platform
