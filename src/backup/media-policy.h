#pragma once

#include <string>

namespace kestrel {

// Why a path that a scene collection names is not backed up as media; empty when it is
// backed up. Media are regular files (links followed) outside the system's own folders (/proc,
// /sys, /dev, /etc) and outside the hidden folders of the home (~/.ssh, ~/.gnupg and so on),
// except OBS's own configuration folder. Scene collections are untrusted: a crafted one must
// not pull secrets into a synced folder.
std::string mediaRefusal(const std::string &path, const std::string &homeFolder,
			 const std::string &obsConfigDir);

} // namespace kestrel
