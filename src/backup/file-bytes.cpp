#include "backup/file-bytes.h"

#include "providers/utf8-path.h"

#include <fstream>
#include <iterator>

namespace kestrel {

std::optional<std::string> readFileBytes(const std::string &path)
{
	std::ifstream in(pathFromUtf8(path), std::ios::binary);
	if (!in)
		return std::nullopt;
	// Reading a folder (a scene "file" named old.json can be one) throws from the stream buffer.
	try {
		std::string bytes(std::istreambuf_iterator<char>(in), {});
		if (in.bad())
			return std::nullopt;
		return bytes;
	} catch (const std::ios_base::failure &) {
		return std::nullopt;
	}
}

} // namespace kestrel
