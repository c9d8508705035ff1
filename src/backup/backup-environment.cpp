#include "backup/backup-environment.h"

#include "platform/app-data-folder.h"
#include "platform/home-folder.h"
#include "platform/module-path.h"
#include "platform/temp-files.h"
#include "providers/utf8-path.h"

namespace kestrel {

std::string secretsFolderBeside(const std::string &settingsPath)
{
	return utf8FromPath(pathFromUtf8(settingsPath).parent_path() / "secrets");
}

BackupEnvironment systemBackupEnvironment(std::string settingsPath, std::string obsVersion)
{
	BackupEnvironment environment;
	environment.obsPaths = findObsPaths(platform::roamingAppDataFolder());
	environment.settingsPath = std::move(settingsPath);
	environment.obsVersion = std::move(obsVersion);
	environment.pluginLibrary = platform::ownLibraryPath();
	environment.tempFolder = platform::temporaryFolder();
	environment.homeFolder = platform::homeFolder();
	environment.keyring = platform::systemSecretStore(secretsFolderBeside(environment.settingsPath));
	return environment;
}

} // namespace kestrel
