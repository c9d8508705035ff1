#pragma once

#include <string>

namespace kestrel::platform {

// Copies the regular file `source` to `target` with the source's permissions so that `target`
// only ever holds its old content or the complete copy: the bytes go into a file no other
// process can reach (unnamed where the system offers that, else a new file named `prefix`
// followed by random characters beside the target), which then takes the target's place.
// Returns the system's error text, empty on success; on failure the target is as it was and
// nothing is left behind.
std::string copyFileIntoPlace(const std::string &source, const std::string &target,
			      const std::string &prefix);

} // namespace kestrel::platform
