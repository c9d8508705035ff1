#include "platform/temp-files.h"

#include "platform/win/wide-text.h"

#include <random>
#include <system_error>

namespace kestrel::platform {

std::string temporaryFolder()
{
	wchar_t buffer[MAX_PATH + 1];
	DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
	if (length == 0 || length > MAX_PATH)
		return {};
	return toUtf8(buffer, static_cast<int>(length));
}

std::string createUniqueFile(const std::string &folder, const std::string &prefix, std::string &error)
{
	static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
	std::random_device random;
	std::uniform_int_distribution<size_t> pick(0, sizeof(kLetters) - 2);
	std::string base = folder;
	if (!base.empty() && base.back() != '\\' && base.back() != '/')
		base += '\\';
	base += prefix;
	for (int attempt = 0; attempt < 100; ++attempt) {
		std::string name = base;
		for (int i = 0; i < 8; ++i)
			name += kLetters[pick(random)];
		// CREATE_NEW fails on any existing name, links included.
		HANDLE file = CreateFileW(toWide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
					  FILE_ATTRIBUTE_NORMAL, nullptr);
		if (file != INVALID_HANDLE_VALUE) {
			CloseHandle(file);
			return name;
		}
		DWORD code = GetLastError();
		if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
			error = std::system_category().message(static_cast<int>(code));
			return {};
		}
	}
	error = "no unused file name found";
	return {};
}

} // namespace kestrel::platform
