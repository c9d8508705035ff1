#pragma once

#include <set>
#include <string>
#include <vector>

namespace kestrel {

// Where the user's OBS keeps its configuration (UTF-8; all empty when unknown).
struct ObsPaths {
	std::string configDir;
	std::string scenesDir;
	std::string profilesDir;
};

// The folders below an OBS configuration folder, joined with this system's separator.
ObsPaths obsPathsIn(const std::string &configDir);

// OBS's configuration inside the per-user application-data folder.
ObsPaths findObsPaths(const std::string &appDataFolder);

// Full paths of the scene collection files (extension ".json", letter case included).
std::vector<std::string> listSceneCollectionFiles(const ObsPaths &paths);

// Names of the profile folders.
std::vector<std::string> listProfileFolders(const ObsPaths &paths);

// Every absolute path of an existing file that one scene collection refers to, in ascending
// byte order. A file that cannot be read or parsed refers to nothing.
std::set<std::string> scanSceneMedia(const std::string &sceneFile);

// The media of all scene collections together.
std::set<std::string> collectMediaPaths(const ObsPaths &paths);

} // namespace kestrel
