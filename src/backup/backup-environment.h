#pragma once

#include "backup/obs-paths.h"
#include "providers/cloud-services.h"

#include <string>

namespace kestrel {

// What the engine needs to know about the computer and the OBS it runs for. Only the edge
// (the dialog, the command line) gathers it; the engine and its tests take it as given.
struct BackupEnvironment {
	ObsPaths obsPaths;
	std::string settingsPath;  // "cloud-backup.json" in the module's folder; empty = no settings file
	std::string obsVersion;    // the running OBS's version text
	std::string pluginLibrary; // the plug-in's own library; empty = no plug-in copy
	std::string tempFolder;    // empty = the current directory
	std::string homeFolder;    // the current user's profile folder; restores move paths below it
	// Where the cloud back-ends connect and how they sign in.
	CloudServices cloudServices;
};

// This computer's folders, the plug-in's own library, and the two values only OBS knows.
BackupEnvironment systemBackupEnvironment(std::string settingsPath, std::string obsVersion);

} // namespace kestrel
