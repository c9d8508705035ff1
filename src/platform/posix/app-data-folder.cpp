#include "platform/app-data-folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrel::platform {

namespace {

std::string homeDirectory()
{
	if (const char *home = std::getenv("HOME"); home && *home)
		return home;
	if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir)
		return entry->pw_dir;
	return {};
}

} // namespace

std::string roamingAppDataFolder()
{
	// A relative XDG_CONFIG_HOME is invalid and must be ignored.
	if (const char *config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
		return config;
	std::string home = homeDirectory();
	if (home.empty())
		return {};
	return home + "/.config";
}

} // namespace kestrel::platform
