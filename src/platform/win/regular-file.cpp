#include "platform/regular-file.h"

#include "platform/win/wide-text.h"

#include <filesystem>
#include <fstream>

namespace kestrel::platform {

// Windows keeps no FIFOs or devices among files, so a look at the path is enough.
std::optional<std::string> readRegularFile(const std::string &path, uint64_t maxBytes, std::string &error)
{
	const std::filesystem::path file(toWide(path));
	std::error_code ec;
	if (!std::filesystem::is_regular_file(file, ec)) {
		error = ec ? ec.message() : "not a regular file";
		return std::nullopt;
	}
	std::ifstream in(file, std::ios::binary);
	if (!in) {
		error = "cannot open the file";
		return std::nullopt;
	}
	std::string bytes;
	char buffer[1 << 16];
	while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
		if (bytes.size() + static_cast<size_t>(in.gcount()) > maxBytes) {
			error = "larger than " + std::to_string(maxBytes) + " bytes";
			return std::nullopt;
		}
		bytes.append(buffer, static_cast<size_t>(in.gcount()));
	}
	if (in.bad()) {
		error = "cannot read the file";
		return std::nullopt;
	}
	return bytes;
}

} // namespace kestrel::platform
