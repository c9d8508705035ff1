#pragma once

#include "backup/obs-paths.h"
#include "platform/secret-store.h"
#include "providers/cloud-services.h"

#include <memory>
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
	// Keeps the cloud sign-in out of the settings file; null = no keyring (the file keeps it).
	std::shared_ptr<platform::SecretStore> keyring;
};

// This computer's folders and keyring, the plug-in's own library, and the two values only OBS
// knows.
BackupEnvironment systemBackupEnvironment(std::string settingsPath, std::string obsVersion);

// Where Windows keeps the protected sign-in of the settings file at `settingsPath`.
std::string secretsFolderBeside(const std::string &settingsPath);

} // namespace kestrel
