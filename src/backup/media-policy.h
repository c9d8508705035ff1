#pragma once

#include <filesystem>
#include <string>

namespace kestrel {

// Why a path that a scene collection names is not backed up as media; empty when it is
// backed up. Media are regular files (links followed) outside the system's own folders (/proc,
// /sys, /dev, /etc) and outside the hidden folders of the home (~/.ssh, ~/.gnupg and so on),
// except OBS's own configuration folder, but never OBS's own settings there (see below). Scene
// collections are untrusted: a crafted one must not pull secrets into a synced folder.
std::string mediaRefusal(const std::string &path, const std::string &homeFolder,
			 const std::string &obsConfigDir);

// Why a file inside OBS's configuration folder, given by its components below that folder, is
// not media: the plug-ins ("plugins", which OBS loads), their settings ("plugin_config": sign-ins,
// obs-websocket's password) and OBS's own settings files ("global.ini", "user.ini"). Empty when
// it may be media. Backups never store them as media, restores never write them as media.
std::string obsSettingsRefusal(const std::filesystem::path &belowConfig);

} // namespace kestrel
