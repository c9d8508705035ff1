#include "backup/backup-environment.h"

#include "platform/app-data-folder.h"
#include "platform/home-folder.h"
#include "platform/module-path.h"
#include "platform/temp-files.h"

namespace kestrel {

BackupEnvironment systemBackupEnvironment(std::string settingsPath, std::string obsVersion)
{
	BackupEnvironment environment;
	environment.obsPaths = findObsPaths(platform::roamingAppDataFolder());
	environment.settingsPath = std::move(settingsPath);
	environment.obsVersion = std::move(obsVersion);
	environment.pluginLibrary = platform::ownLibraryPath();
	environment.tempFolder = platform::temporaryFolder();
	environment.homeFolder = platform::homeFolder();
	return environment;
}

} // namespace kestrel
