#include "cli-options.h"

namespace kestrel::cli {

const char *const kUsageText =
    R"(Usage: kestrel-backup COMMAND --folder DIR [options]
       kestrel-backup COMMAND --provider gdrive|onedrive [options]
       kestrel-backup login --provider gdrive|onedrive --client-id ID
                            [--client-secret-file FILE | --client-secret S]
       kestrel-backup logout [--provider gdrive|onedrive]

Backs up OBS Studio's scene collections, profiles and the media they use into a
folder (for example one that a OneDrive or Google Drive client synchronises),
and restores them, in the same layout as Tools > Cloud Backup / Restore.

Commands:
  backup    copy the OBS configuration and its media into DIR/obs-cloud-backup
  show      list what the backup in DIR holds
  restore   put every file of the backup in DIR back into place; paths below
            another user's home folder move to this user's, and the files of
            the OBS configuration into --obs-config (default: this user's)
  login     sign in to Google Drive or OneDrive in the browser with your own
            OAuth client (its redirect URI: http://localhost:8765/callback);
            the sign-in is kept in the system keyring (or, where there is
            none, in the plug-in's settings file, readable by you only)
  logout    forget the cloud sign-in

The last 5 backups stay restorable (the number set in the plug-in's dialog);
a repeated backup copies only the files that changed. One run at a time per
backup folder.

Options:
  --folder DIR      the backup folder: the one holding obs-cloud-backup, or
                    obs-cloud-backup itself
  --provider NAME   back up to or restore from gdrive (Google Drive) or
                    onedrive (OneDrive) instead of a folder; needs a login
  --client-id ID    login: the OAuth client id you registered
  --client-secret-file FILE
                    login: read the client secret (Google Drive only) from the
                    first line of FILE; "-" reads it from standard input
  --client-secret S login: the client secret given on the command line, where
                    every user of this computer can see it (prefer the above)
  --obs-config DIR  OBS's configuration folder: backup reads it, restore
                    writes into it (default: this user's)
  --plugin FILE     backup: the plug-in library to store with the backup
                    (default: the installed one, this user's before the
                    system's, if any)
  --name NAME       restore: give the first scene collection this name
  --history         show: list the kept backups with their date and size
  --from DATE       show, restore: the kept backup of this date as --history
                    lists it (a prefix such as 2026-03-01 picks the newest
                    of that day); default: the newest
  --yes             restore: do not ask before overwriting files
  --force           restore: run even while OBS is running (OBS rewrites its
                    settings when it exits, undoing part of the restore)
  --outside-home    restore: also put back media files that lay outside the
                    backed-up user's home folder, where they were (never into
                    the system's own folders such as /etc or /usr; a path of
                    the other system, such as D:\Media on Linux, goes below
                    the home: ~/D/Media)
  --dry-run         restore: show where each file would land and what would be
                    skipped and why; write nothing
  --json            print the manifest (show) or the result as JSON on
                    standard output; log lines go to standard error
  --quiet           print no log lines and no progress
  --verbose         also print the lines meant for the OBS log (standard error)
  -h, --help        show this help

Exit status: 0 done, 1 the run failed, 2 wrong usage, 3 OBS is running,
4 partial (some files skipped; they are listed), 5 restore declined at the prompt.
)";

namespace {

bool takesValue(const std::string &option, std::string Options::*&field)
{
	if (option == "--folder")
		field = &Options::folder;
	else if (option == "--obs-config")
		field = &Options::obsConfig;
	else if (option == "--plugin")
		field = &Options::plugin;
	else if (option == "--name")
		field = &Options::name;
	else if (option == "--provider")
		field = &Options::provider;
	else if (option == "--client-id")
		field = &Options::clientId;
	else if (option == "--client-secret")
		field = &Options::clientSecret;
	else if (option == "--client-secret-file")
		field = &Options::clientSecretFile;
	else if (option == "--from")
		field = &Options::from;
	else
		return false;
	return true;
}

bool isFlag(const std::string &option, bool Options::*&field)
{
	if (option == "--yes")
		field = &Options::yes;
	else if (option == "--force")
		field = &Options::force;
	else if (option == "--outside-home")
		field = &Options::outsideHome;
	else if (option == "--dry-run")
		field = &Options::dryRun;
	else if (option == "--json")
		field = &Options::json;
	else if (option == "--quiet")
		field = &Options::quiet;
	else if (option == "--verbose")
		field = &Options::verbose;
	else if (option == "--history")
		field = &Options::history;
	else
		return false;
	return true;
}

} // namespace

std::optional<Options> parseOptions(int argc, const char *const *argv, std::string &error)
{
	Options options;
	bool haveCommand = false;
	for (int i = 0; i < argc; ++i) {
		std::string argument = argv[i];
		std::string value;
		const size_t equals = argument.find('=');
		const bool inlineValue = argument.rfind("--", 0) == 0 && equals != std::string::npos;
		if (inlineValue) {
			value = argument.substr(equals + 1);
			argument.resize(equals);
		}
		std::string Options::*text = nullptr;
		bool Options::*flag = nullptr;
		if (argument == "-h" || argument == "--help") {
			options.command = Command::Help;
			return options;
		} else if (takesValue(argument, text)) {
			if (!inlineValue) {
				if (i + 1 >= argc) {
					error = argument + " needs a value";
					return std::nullopt;
				}
				value = argv[++i];
			}
			options.*text = value;
		} else if (isFlag(argument, flag) && !inlineValue) {
			options.*flag = true;
		} else if (!haveCommand && (argument == "login" || argument == "logout")) {
			options.command = argument == "login" ? Command::Login : Command::Logout;
			haveCommand = true;
		} else if (!haveCommand &&
			   (argument == "backup" || argument == "show" || argument == "restore")) {
			options.command = argument == "backup" ? Command::Backup
					  : argument == "show" ? Command::Show
							       : Command::Restore;
			haveCommand = true;
		} else {
			error = "unknown argument: " + std::string(argv[i]);
			return std::nullopt;
		}
	}
	if (!haveCommand) {
		error = "no command given (backup, show, restore, login or logout)";
		return std::nullopt;
	}
	if (!options.provider.empty() && options.provider != "gdrive" && options.provider != "onedrive") {
		error = "--provider takes gdrive or onedrive";
		return std::nullopt;
	}
	if (options.command == Command::Login && (options.provider.empty() || options.clientId.empty())) {
		error = "login needs --provider gdrive|onedrive and --client-id ID";
		return std::nullopt;
	}
	if (!options.clientSecret.empty() && !options.clientSecretFile.empty()) {
		error = "give the client secret once: --client-secret-file or --client-secret";
		return std::nullopt;
	}
	const bool signInCommand = options.command == Command::Login || options.command == Command::Logout;
	if (!signInCommand && options.folder.empty() == options.provider.empty()) {
		error = "give either --folder DIR or --provider gdrive|onedrive";
		return std::nullopt;
	}
	return options;
}

} // namespace kestrel::cli
