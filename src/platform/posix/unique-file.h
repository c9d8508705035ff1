#pragma once

#include <fcntl.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace kestrel::platform {

// Creates `folder`/`prefix` + six random characters with O_EXCL and mode 0600 and returns the
// open descriptor (negative with errno set on failure); `path` receives the name.
inline int openUniqueFile(const std::string &folder, const std::string &prefix, std::string &path)
{
	std::string pattern = folder;
	if (!pattern.empty() && pattern.back() != '/')
		pattern += '/';
	pattern += prefix + "XXXXXX";
	std::vector<char> name(pattern.begin(), pattern.end());
	name.push_back('\0');
	const int fd = mkostemp(name.data(), O_CLOEXEC);
	path = name.data();
	return fd;
}

} // namespace kestrel::platform
