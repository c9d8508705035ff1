#include "backup/temp-file.h"

#include "platform/temp-files.h"
#include "providers/utf8-path.h"

#include <filesystem>
#include <fstream>

namespace kestrel {

TempFile::TempFile(const std::string &folder, const std::string &prefix)
    : path_(platform::createUniqueFile(folder, prefix, error_))
{
}

TempFile::~TempFile()
{
	if (path_.empty())
		return;
	std::error_code ec;
	std::filesystem::remove(pathFromUtf8(path_), ec);
}

bool TempFile::write(const std::string &bytes)
{
	if (path_.empty())
		return false;
	std::ofstream out(pathFromUtf8(path_), std::ios::binary | std::ios::trunc);
	out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
	out.flush();
	if (!out) {
		error_ = "cannot write " + path_;
		return false;
	}
	// What is written here gets stored, and stored files are readable like any other.
	std::error_code ec;
	std::filesystem::permissions(
	    pathFromUtf8(path_),
	    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
		std::filesystem::perms::group_read | std::filesystem::perms::others_read,
	    ec);
	return true;
}

} // namespace kestrel
