#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestrel::platform {

// Copies the regular file `source` to `target` with the source's permissions (never setuid,
// setgid or writable by others) so that `target`
// only ever holds its old content or the complete copy: the bytes go into a file no other
// process can reach (unnamed where the system offers that, else a new file named `prefix`
// followed by random characters beside the target), which then takes the target's place.
// Returns the system's error text, empty on success; on failure the target is as it was and
// nothing is left behind. `progress`, when given, hears the bytes copied so far as the copy
// goes, so a large file does not look stalled.
using CopyProgress = std::function<void(uint64_t copied, uint64_t total)>;
std::string copyFileIntoPlace(const std::string &source, const std::string &target, const std::string &prefix,
			      const CopyProgress &progress = nullptr);

// The same for a target under a name nothing relies on yet, so a partial copy there harms no
// one: the copy is written at the target itself, created exclusively (never through a link),
// which spares the extra steps above, and is removed when the copy fails; a crash may leave it
// partial. Something already at the target is replaced whole as above.
std::string copyFileToFreshName(const std::string &source, const std::string &target,
				const std::string &prefix, const CopyProgress &progress = nullptr);

// Gives the file at `path` the permissions a file this process creates gets (the user's umask),
// never setuid, setgid or writable by others, whatever a copy brought along. Returns the
// system's error text, empty on success.
std::string giveNewFilePermissions(const std::string &path);

} // namespace kestrel::platform
