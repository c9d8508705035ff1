#pragma once

#include "backup/backup-types.h"

#include <chrono>
#include <optional>
#include <stdexcept>

namespace kestrel {

// The manifest file "obs-cloud-backup/manifest.json": indented by 2, keys in ascending order,
// raw UTF-8 with invalid sequences replaced by U+FFFD.
std::string manifestToJson(const BackupManifest &manifest);

// A manifest text that does not hold a whole manifest; what() names the first problem.
class DamagedManifest : public std::runtime_error {
public:
	using std::runtime_error::runtime_error;
};

// Reads all or nothing: throws DamagedManifest for a text that is not JSON (cut short, a stray
// byte, 1e999) or holds a value of the wrong type (a string or null where a number belongs, a
// number that is not a whole one in range). Keys it does not know are ignored; missing keys
// read as empty.
BackupManifest manifestFromJson(const std::string &text);

// The current UTC time to the second, as 2026-03-01T18:05:09Z.
std::string currentTimestamp();

// The time such a text names; nothing when it is not one.
std::optional<std::chrono::sys_seconds> timestampTime(const std::string &timestamp);

} // namespace kestrel
