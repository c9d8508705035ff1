#include "platform/file-state.h"

#include "platform/win/wide-text.h"

namespace kestrel::platform {

std::optional<FileState> fileState(const std::string &path)
{
	const std::filesystem::path file(toWide(path));
	std::error_code ec;
	if (!std::filesystem::is_regular_file(file, ec))
		return std::nullopt;
	const auto size = std::filesystem::file_size(file, ec);
	if (ec)
		return std::nullopt;
	const auto modified = std::filesystem::last_write_time(file, ec);
	if (ec)
		return std::nullopt;
	return FileState{size, modified};
}

} // namespace kestrel::platform
