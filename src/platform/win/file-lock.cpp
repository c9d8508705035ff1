#include "platform/file-lock.h"

#include "platform/win/wide-text.h"

#include <system_error>
#include <thread>

namespace kestrel::platform {

namespace {

// Opened without sharing: the open handle is the lock, and Windows closes it when the process ends.
class UnsharedFile final : public FileLock {
public:
	explicit UnsharedFile(HANDLE file) : file_(file) {}
	~UnsharedFile() override { CloseHandle(file_); }

private:
	HANDLE file_;
};

} // namespace

std::unique_ptr<FileLock> lockFile(const std::string &path, std::chrono::milliseconds patience,
				   std::string &error, bool &busy)
{
	busy = false;
	const std::wstring name = toWide(path);
	const auto deadline = std::chrono::steady_clock::now() + patience;
	for (;;) {
		HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
					  FILE_ATTRIBUTE_NORMAL, nullptr);
		if (file != INVALID_HANDLE_VALUE)
			return std::make_unique<UnsharedFile>(file);
		const DWORD code = GetLastError();
		if (code != ERROR_SHARING_VIOLATION) {
			error = std::system_category().message(static_cast<int>(code));
			return nullptr;
		}
		if (std::chrono::steady_clock::now() >= deadline) {
			busy = true;
			error = "held by another run";
			return nullptr;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
}

} // namespace kestrel::platform
