#pragma once

#include <windows.h>

#include <string>

namespace kestrel::platform {

inline std::string toUtf8(const wchar_t *text, int length = -1)
{
	int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
	if (size <= 0)
		return {};
	std::string out(static_cast<size_t>(size), '\0');
	WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
	if (length < 0)
		out.pop_back(); // the terminating null was counted
	return out;
}

inline std::wstring toWide(const std::string &text)
{
	int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
	if (size <= 0)
		return {};
	std::wstring out(static_cast<size_t>(size), L'\0');
	MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
	return out;
}

} // namespace kestrel::platform
