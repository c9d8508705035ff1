#pragma once

#include <string>
#include <vector>

namespace kestrel::platform {

// What a backup stores next to the copy of the plug-in library so it can be installed again
// on another computer of the same system.
struct PluginInstallFiles {
	std::string instructions; // stored as "INSTALL.txt"
	std::string scriptName;   // "install.ps1" on Windows, "install.sh" elsewhere
	std::string script;
};

// `libraryFileName` is the last component of the plug-in's own library path.
PluginInstallFiles pluginInstallFiles(const std::string &libraryFileName);

// Where OBS loads the plug-in from for this user, given OBS's configuration folder, in the order
// OBS looks: the per-user folder, then the system's. A backup made outside OBS (the command
// line) copies the first library that exists.
std::vector<std::string> installedPluginPaths(const std::string &obsConfigDir);

} // namespace kestrel::platform
