#include "backup/media-policy.h"

#include "backup/run-steps.h"
#include "providers/utf8-path.h"

namespace kestrel {

namespace fs = std::filesystem;

namespace {

bool isInside(const fs::path &path, const fs::path &folder)
{
	if (folder.empty())
		return false;
	const fs::path relative = path.lexically_relative(folder);
	return !relative.empty() && *relative.begin() != "..";
}

// Resolved as far as it exists, so ".." and links cannot hide where the path leads.
fs::path resolved(const fs::path &path)
{
	std::error_code ec;
	fs::path real = fs::weakly_canonical(path, ec);
	return ec ? path.lexically_normal() : real;
}

std::string refusalOf(const fs::path &path, const fs::path &home, const fs::path &obsConfig)
{
	if constexpr (fs::path::preferred_separator == '/') {
		for (const char *system : {"/proc", "/sys", "/dev", "/etc"})
			if (isInside(path, system))
				return std::string("inside the system folder ") + system;
	}
	if (isInside(path, obsConfig)) {
		if (std::string reason = obsSettingsRefusal(path.lexically_relative(obsConfig));
		    !reason.empty())
			return reason;
	} else if (isInside(path, home)) {
		const std::string first = utf8FromPath(*path.lexically_relative(home).begin());
		if (first.size() > 1 && first[0] == '.')
			return "inside the hidden folder " + utf8FromPath(home / pathFromUtf8(first));
	}
	return {};
}

} // namespace

std::string obsSettingsRefusal(const fs::path &belowConfig)
{
	if (belowConfig.empty())
		return {};
	std::string first = utf8FromPath(*belowConfig.begin());
	if constexpr (fs::path::preferred_separator == '\\')
		first = asciiLowerCase(first);
	if (first == "plugins")
		return "inside OBS's plug-in folder";
	if (first == "plugin_config")
		return "inside OBS's plug-in settings folder";
	if ((first == "global.ini" || first == "user.ini") &&
	    std::next(belowConfig.begin()) == belowConfig.end())
		return "OBS's own settings file";
	return {};
}

std::string mediaRefusal(const std::string &path, const std::string &homeFolder,
			 const std::string &obsConfigDir)
{
	const fs::path file = pathFromUtf8(path);
	const fs::path home = homeFolder.empty() ? fs::path() : resolved(pathFromUtf8(homeFolder));
	const fs::path obsConfig = obsConfigDir.empty() ? fs::path() : resolved(pathFromUtf8(obsConfigDir));
	// Both the path as written and where it leads must be acceptable.
	for (const fs::path &candidate : {file.lexically_normal(), resolved(file)}) {
		if (std::string reason = refusalOf(candidate, home, obsConfig); !reason.empty())
			return reason;
	}
	std::error_code ec;
	const auto status = fs::status(file, ec);
	if (!fs::exists(status))
		return "not found";
	if (!fs::is_regular_file(status))
		return "not a regular file";
	return {};
}

} // namespace kestrel
