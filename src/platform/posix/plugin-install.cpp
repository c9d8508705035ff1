#include "platform/plugin-install.h"

#include <filesystem>

namespace kestrel::platform {

namespace {

// OBS only loads a per-user plug-in whose folder carries the library's own name.
std::string moduleName(const std::string &libraryFileName)
{
	return std::filesystem::path(libraryFileName).stem().string();
}

} // namespace

PluginInstallFiles pluginInstallFiles(const std::string &libraryFileName)
{
	const std::string module = moduleName(libraryFileName);
	const std::string target = "~/.config/obs-studio/plugins/" + module + "/bin/64bit/" + libraryFileName;
	PluginInstallFiles files;
	files.instructions =
	    "Kestrel - install on another PC\n"
	    "======================================\n"
	    "\n"
	    "1. Install OBS Studio 28+ if it isn't already.\n"
	    "2. Copy " +
	    libraryFileName + " into:\n     " + target +
	    "\n"
	    "   (or just run: sh install.sh - it does it for you.)\n"
	    "3. Restart OBS. You'll see Tools > Cloud Backup / Restore and the delay filters.\n"
	    "   No other files are needed: OBS already ships the Qt and libcurl libraries\n"
	    "   the plugin uses.\n"
	    "4. To bring your scenes/media back: Tools > Cloud Backup / Restore > Settings,\n"
	    "   choose 'Local folder' pointing at THIS backup folder, then Restore tab >\n"
	    "   Refresh > Restore selected backup. Restart OBS afterwards.\n";
	files.scriptName = "install.sh";
	files.script = "#!/bin/sh\n"
		       "# Installs " +
		       libraryFileName +
		       " (sitting next to this script) into OBS's per-user plug-in folder.\n"
		       "set -e\n"
		       "here=$(cd \"$(dirname \"$0\")\" && pwd)\n"
		       "lib=\"$here/" +
		       libraryFileName +
		       "\"\n"
		       "dst=\"${XDG_CONFIG_HOME:-$HOME/.config}/obs-studio/plugins/" +
		       module +
		       "/bin/64bit\"\n"
		       "[ -f \"$lib\" ] || { echo '" +
		       libraryFileName +
		       " not found next to this script' >&2; exit 1; }\n"
		       "mkdir -p \"$dst\"\n"
		       "# Copy beside the target, then rename: a running OBS keeps the library it loaded.\n"
		       "cp \"$lib\" \"$dst/.install.tmp\"\n"
		       "mv -f \"$dst/.install.tmp\" \"$dst/" +
		       libraryFileName +
		       "\"\n"
		       "if cmp -s \"$lib\" \"$dst/" +
		       libraryFileName +
		       "\"; then\n"
		       "  echo 'Installed. Restart OBS.'\n"
		       "else\n"
		       "  echo 'Install failed' >&2; exit 1\n"
		       "fi\n";
	return files;
}

std::vector<std::string> installedPluginPaths(const std::string &obsConfigDir)
{
	return {obsConfigDir + "/plugins/kestrel/bin/64bit/kestrel.so", KESTREL_SYSTEM_PLUGIN_PATH};
}

} // namespace kestrel::platform
