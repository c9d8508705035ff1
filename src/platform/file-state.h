#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrel::platform {

// A regular file's size and last change, the time as std::filesystem::last_write_time gives it.
struct FileState {
	uint64_t size = 0;
	std::filesystem::file_time_type modified;
};

// Of the regular file at `path` (UTF-8, links followed), read at once where the system allows;
// nothing when it is missing, unreadable or not a regular file.
std::optional<FileState> fileState(const std::string &path);

} // namespace kestrel::platform
