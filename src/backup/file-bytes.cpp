#include "backup/file-bytes.h"

#include "platform/regular-file.h"

namespace kestrel {

std::optional<std::string> readFileBytes(const std::string &path, uint64_t maxBytes)
{
	std::string error;
	return platform::readRegularFile(path, maxBytes, error);
}

} // namespace kestrel
