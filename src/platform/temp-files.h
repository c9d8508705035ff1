#pragma once

#include <string>

namespace kestrel::platform {

// The system's folder for temporary files, UTF-8; empty when it cannot be determined.
std::string temporaryFolder();

// Creates a file that did not exist before, readable and writable by this user only, named
// `prefix` followed by random characters, inside `folder` (empty = the current directory).
// Never opens an existing file or link, so a name planted in a shared folder cannot redirect
// the write. Returns the new file's UTF-8 path; empty on failure, with `error` set.
std::string createUniqueFile(const std::string &folder, const std::string &prefix, std::string &error);

} // namespace kestrel::platform
