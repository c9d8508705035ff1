#pragma once

#include <optional>
#include <string>

namespace kestrel::cli {

enum class Command { Backup, Show, Restore, Help };

struct Options {
	Command command = Command::Help;
	std::string folder;
	std::string obsConfig; // empty = this user's OBS configuration
	std::string plugin;    // empty = the installed plug-in, when there is one
	std::string name;
	std::string from; // show, restore: the backup of this date (or date prefix); empty = newest
	bool history = false;
	bool yes = false;
	bool force = false;
	bool json = false;
	bool quiet = false;
	bool verbose = false;
};

// Parses the arguments after the program name; on a mistake returns nothing and sets `error`.
std::optional<Options> parseOptions(int argc, const char *const *argv, std::string &error);

extern const char *const kUsageText;

} // namespace kestrel::cli
