#pragma once

#include "backup/backup-manager.h"
#include "cli-options.h"

namespace kestrel::cli {

// The settings file the plug-in keeps in OBS's configuration folder; the command line signs
// in through the same file, so OBS and the command line share one sign-in.
std::string settingsFileIn(const std::string &obsConfigDir);

// Prints the sign-in's authorization URL and progress texts on standard error.
void reportSignInOnConsole(SignInOptions &signIn);

// login and logout; they return the exit status.
int login(BackupManager &manager, const Options &options);
int logout(BackupManager &manager, const Options &options);

// Makes the signed-in cloud back-end of `options.provider` the manager's and checks that the
// service accepts it; empty when it does, otherwise why not.
std::string connectCloud(BackupManager &manager, const Options &options);

// Stores tokens refreshed during a run when it ends.
class TokenKeeper {
public:
	TokenKeeper(BackupManager &manager, bool active);
	~TokenKeeper();

private:
	BackupManager &manager_;
	const bool active_;
	const std::string tokens_;
};

} // namespace kestrel::cli
