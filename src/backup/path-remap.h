#pragma once

#include "backup/backup-types.h"

namespace kestrel {

// Moves paths below one user's profile folder to another's. A profile folder is recognised by
// the segment \users\ or /users/ (any letter case), and on POSIX also /home/, followed by a
// user name.

// The path up to the separator after the user name (C:\Users\Alice for
// C:\Users\Alice\Videos\a.mp4); empty when the path has none.
std::string userHomePrefix(const std::string &path);

// The profile folder the backup was made from, taken from the scene collection and profile
// entries; empty when none lies below one.
std::string findSourceHome(const BackupManifest &manifest);

// Where a backed-up file is restored: below `newHome` when it lay below a profile folder,
// otherwise where it was. An empty `newHome` changes nothing.
std::string remapUserPath(const std::string &path, const std::string &newHome);

// A path that a restore moved: a home folder, or a file put somewhere else.
struct PathMove {
	std::string from;
	std::string to;
};

// Replaces each move's `from` by its `to` inside a restored JSON or ini file, in its
// JSON-escaped, forward-slash and plain spellings, only where the match ends at a path
// boundary. Between a Windows and a POSIX path, the rest of each path after the match takes
// the new system's separators too. Returns the number of replacements.
int rewriteEmbeddedPaths(const std::string &file, const std::vector<PathMove> &moves, const RunLog &log);

// The same on a file's text: `json` when backslashes are escaped in it. Returns the count.
int rewritePathsInText(std::string &text, const std::vector<PathMove> &moves, bool json);

} // namespace kestrel
