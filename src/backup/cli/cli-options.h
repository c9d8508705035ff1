#pragma once

#include <optional>
#include <string>

namespace kestrel::cli {

enum class Command { Backup, Show, Restore, Help, Login, Logout };

struct Options {
	Command command = Command::Help;
	std::string folder;
	std::string provider; // "gdrive" or "onedrive" instead of a folder
	std::string clientId;
	std::string clientSecret;
	std::string clientSecretFile; // "-" = standard input
	std::string obsConfig;        // empty = this user's OBS configuration
	std::string plugin;           // empty = the installed plug-in, when there is one
	std::string name;
	std::string from; // show, restore: the backup of this date (or date prefix); empty = newest
	bool history = false;
	bool yes = false;
	bool force = false;
	bool outsideHome = false;
	bool dryRun = false;
	bool json = false;
	bool quiet = false;
	bool verbose = false;
};

// Parses the arguments after the program name; on a mistake returns nothing and sets `error`.
std::optional<Options> parseOptions(int argc, const char *const *argv, std::string &error);

extern const char *const kUsageText;

} // namespace kestrel::cli
