#pragma once

#include "backup/backup-types.h"

#include <optional>

namespace kestrel {

// The file name a restored scene collection gets for a name the user typed: the ten bytes
// Windows forbids in names (and the space) and control bytes become underscores; an empty
// result is "Untitled".
std::string sanitizeCollectionFileName(const std::string &name);

// The collection's "name" member; empty when the file cannot be read or has none.
std::string readCollectionName(const std::string &file);

// Sets the collection's "name" member, keeping the rest of the file as it was.
void setCollectionName(const std::string &file, const std::string &name, const RunLog &log);

// Makes OBS open this collection at its next start: the SceneCollection and
// SceneCollectionFile keys of "user.ini" (OBS 31 and later: the file name) and "global.ini"
// (OBS 30 and older: the file stem) in OBS's configuration folder, where they already are.
void activateCollection(const std::string &obsConfigDir, const std::string &displayName,
			const std::string &fileStem, const RunLog &log);

// Replaces the value of the first line that starts with key + "=" (no section, no leading
// blanks); control bytes of the value become underscores, so it stays one line. False when
// the file has no such line or cannot be read or written.
bool replaceIniValue(const std::string &iniFile, const std::string &key, const std::string &value);

// The ini text as replaceIniValue leaves it; nothing when no line starts with key + "=".
std::optional<std::string> withIniValue(std::string text, const std::string &key, const std::string &value);

} // namespace kestrel
