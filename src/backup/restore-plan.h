#pragma once

#include "backup/backup-types.h"
#include "backup/obs-paths.h"
#include "backup/path-remap.h"

namespace kestrel {

// What a restore may write. A backup folder is filled by a sync client, maybe from another
// person's computer, so nothing in it decides on its own where a file lands.
struct RestoreRules {
	std::string newHome;        // the current user's home folder
	ObsPaths obsPaths;          // this computer's OBS configuration
	std::string collectionName; // the first scene collection's new name; empty = keep
	bool outsideHome = false;   // media that lay outside the old home goes back where it was
};

enum class EntryKind { SceneCollection, Profile, Media };

// One entry of a restore: where it lands, or why it is skipped.
struct RestoreStep {
	const BackupEntry *entry = nullptr;
	EntryKind kind = EntryKind::Media;
	bool firstCollection = false; // the one that is renamed and activated
	bool outsideHome = false;     // media that lay outside the old home
	std::string destination;      // empty when skipped
	std::string refusal;          // why it is skipped
};

// Every entry in run order (scene collections, profile files, media). Scene collections land
// in the scenes folder under their file name, profile files below the profiles folder, media
// below the new home outside its hidden folders (the OBS configuration excepted) or, when
// chosen, where it lay outside the old home; such a path of the other system (D:\Media on
// POSIX, /mnt/media on Windows) has no place here and goes below the new home (~/D/Media).
std::vector<RestoreStep> restorePlan(const BackupManifest &manifest, const RestoreRules &rules);

// The moves the restored files' contents follow: the old home to the new one, and each file
// the plan puts somewhere else than it lay.
std::vector<PathMove> pathMovesOf(const std::vector<RestoreStep> &plan, const std::string &oldHome,
				  const std::string &newHome);

// "(reason): the entry", for the log and the command line.
std::string refusalText(const RestoreStep &step);

// The entry a refusal names: the remote path when that was refused, otherwise the local one.
std::string refusedPlace(const RestoreStep &step);

// Absolute, with this system's separators, no "." or ".." left; empty for a relative path or
// one holding control bytes (a NUL would cut the path short where the system reads it).
std::string normalisedPath(const std::string &path);

} // namespace kestrel
