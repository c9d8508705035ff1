#include "platform/plugin-install.h"

namespace kestrel::platform {

// Both texts name the library Kestrel.dll, the name OBS on Windows knows it by.
PluginInstallFiles pluginInstallFiles(const std::string &)
{
	PluginInstallFiles files;
	files.instructions =
	    "Kestrel - install on another PC\r\n"
	    "======================================\r\n"
	    "\r\n"
	    "1. Install OBS Studio 28+ (Qt6 build) if it isn't already.\r\n"
	    "2. Close OBS completely.\r\n"
	    "3. Copy Kestrel.dll into:\r\n"
	    "     C:\\Program Files\\obs-studio\\obs-plugins\\64bit\\Kestrel.dll\r\n"
	    "   (needs administrator - or just right-click install.ps1 > Run with PowerShell,\r\n"
	    "    which does it for you.)\r\n"
	    "4. Start OBS. You'll see Tools > Cloud Backup / Restore and the delay filters.\r\n"
	    "   No other files are needed: OBS already ships the Qt6 and libcurl libraries\r\n"
	    "   the plugin uses.\r\n"
	    "5. To bring your scenes/media back: Tools > Cloud Backup / Restore > Settings,\r\n"
	    "   choose 'Local folder' pointing at THIS backup folder, then Restore tab >\r\n"
	    "   Refresh > Restore selected backup. Restart OBS afterwards.\r\n";
	files.scriptName = "install.ps1";
	files.script =
	    "# Installs Kestrel.dll (sitting next to this script) into OBS.\r\n"
	    "$ErrorActionPreference = 'Stop'\r\n"
	    "$here = Split-Path -Parent $MyInvocation.MyCommand.Path\r\n"
	    "$dll  = Join-Path $here 'Kestrel.dll'\r\n"
	    "$dst  = 'C:\\Program Files\\obs-studio\\obs-plugins\\64bit\\Kestrel.dll'\r\n"
	    "if (-not (Test-Path $dll)) { throw 'Kestrel.dll not found next to this script' }\r\n"
	    "if (Get-Process obs64 -ErrorAction SilentlyContinue) { throw 'Close OBS first (it locks the "
	    "DLL)' }\r\n"
	    "$copy = \"Copy-Item -LiteralPath '$dll' -Destination '$dst' -Force\"\r\n"
	    "Start-Process powershell -Verb RunAs -Wait -ArgumentList '-NoProfile','-Command',$copy\r\n"
	    "if ((Test-Path $dst) -and ((Get-Item $dst).Length -eq (Get-Item $dll).Length)) {\r\n"
	    "  Write-Host 'Installed. Start OBS.' -ForegroundColor Green\r\n"
	    "} else { throw 'Install failed (UAC cancelled or file locked)' }\r\n";
	return files;
}

std::vector<std::string> installedPluginPaths(const std::string &)
{
	return {"C:\\Program Files\\obs-studio\\obs-plugins\\64bit\\Kestrel.dll"};
}

} // namespace kestrel::platform
