#pragma once

#include <string>

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

// Where OBS loads the plug-in from for this user, given OBS's configuration folder; a backup
// made outside OBS (the command line) copies the library found there.
std::string installedPluginPath(const std::string &obsConfigDir);

} // namespace kestrel::platform
