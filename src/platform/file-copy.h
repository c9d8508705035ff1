#pragma once

#include <string>

namespace kestrel::platform {

// Copies the regular file `source` into a new file that did not exist before, named `prefix`
// followed by random characters inside `folder`, with the source's permissions. The caller
// renames it into place. Returns the new file's UTF-8 path; on failure nothing is left behind,
// the result is empty and `error` holds the system's text.
std::string copyToUniqueFile(const std::string &source, const std::string &folder, const std::string &prefix,
			     std::string &error);

} // namespace kestrel::platform
