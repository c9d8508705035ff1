#include "cloud-account.h"

#include "backup/utf8-text.h"
#include "providers/oauth-provider.h"

#include "providers/utf8-path.h"

#include <cstdio>
#include <fstream>
#include <iostream>

namespace kestrel::cli {

namespace {

ProviderKind kindOf(const Options &options)
{
	return options.provider == "onedrive" ? ProviderKind::OneDrive : ProviderKind::GoogleDrive;
}

std::string serviceName(const Options &options)
{
	return kindOf(options) == ProviderKind::OneDrive ? "OneDrive" : "Google Drive";
}

int failed(const std::string &reason)
{
	std::fprintf(stderr, "kestrel-backup: %s\n", printable(reason).c_str());
	return 1;
}

// Without OBS's configuration folder there is nowhere to keep a sign-in.
bool loadSettings(BackupManager &manager, std::string &error)
{
	if (manager.environment().settingsPath.empty()) {
		error = "OBS's configuration folder was not found; pass --obs-config DIR";
		return false;
	}
	manager.loadSettings();
	return true;
}

void saveSettings(BackupManager &manager)
{
	try {
		manager.writeSettings();
	} catch (const std::exception &e) {
		std::fprintf(stderr, "kestrel-backup: warning: the refreshed sign-in was not saved: %s\n",
			     e.what());
	}
}

// The client secret from --client-secret-file (first line; "-" is standard input), else from
// --client-secret; false with `error` when the file cannot be read.
bool clientSecretOf(const Options &options, std::string &secret, std::string &error)
{
	secret = options.clientSecret;
	if (options.clientSecretFile.empty())
		return true;
	std::ifstream file;
	if (options.clientSecretFile != "-")
		file.open(pathFromUtf8(options.clientSecretFile));
	std::istream &in = options.clientSecretFile == "-" ? std::cin : file;
	if (!in || !std::getline(in, secret)) {
		error = "cannot read the client secret from " + (options.clientSecretFile == "-"
								     ? std::string("standard input")
								     : options.clientSecretFile);
		return false;
	}
	if (!secret.empty() && secret.back() == '\r')
		secret.pop_back();
	return true;
}

} // namespace

std::string settingsFileIn(const std::string &obsConfigDir)
{
	return obsConfigDir + "/plugin_config/kestrel/cloud-backup.json";
}

void reportSignInOnConsole(SignInOptions &signIn)
{
	signIn.showUrl = [](const std::string &url) {
		std::fprintf(stderr,
			     "Sign in with this address (your browser should open it by itself):\n  %s\n",
			     url.c_str());
	};
	signIn.status = [](const std::string &text) {
		std::fprintf(stderr, "%s\n", printable(text).c_str());
	};
}

int login(BackupManager &manager, const Options &options)
{
	std::string error;
	if (!loadSettings(manager, error))
		return failed(error);
	manager.clientId = options.clientId;
	if (!clientSecretOf(options, manager.clientSecret, error))
		return failed(error);
	manager.setProvider(kindOf(options));
	if (!manager.provider().authenticate())
		return failed("sign-in to " + serviceName(options) +
			      " failed: " + manager.provider().lastError());
	manager.writeSettings();
	std::printf("Signed in to %s.\n", serviceName(options).c_str());
	return 0;
}

int logout(BackupManager &manager, const Options &options)
{
	std::string error;
	if (!loadSettings(manager, error))
		return failed(error);
	const bool cloud = manager.providerKind() != ProviderKind::LocalFolder;
	if (!cloud || !manager.provider().isAuthenticated() ||
	    (!options.provider.empty() && manager.providerKind() != kindOf(options))) {
		std::printf("Not signed in%s.\n",
			    options.provider.empty() ? "" : (" to " + serviceName(options)).c_str());
		return 0;
	}
	manager.provider().logout();
	manager.writeSettings();
	std::printf("Signed out of %s.\n", manager.provider().name().c_str());
	return 0;
}

std::string connectCloud(BackupManager &manager, const Options &options)
{
	std::string error;
	if (!loadSettings(manager, error))
		return error;
	if (manager.providerKind() != kindOf(options) || !manager.provider().isAuthenticated())
		return "not signed in to " + serviceName(options) +
		       "; sign in first: kestrel-backup login --provider " + options.provider +
		       " --client-id ID";
	const std::string before = manager.provider().serializeTokens();
	auto *account = dynamic_cast<OAuthProvider *>(&manager.provider());
	if (account && !account->verifySignIn())
		return account->lastError();
	if (manager.provider().serializeTokens() != before)
		saveSettings(manager);
	return {};
}

TokenKeeper::TokenKeeper(BackupManager &manager, bool active)
    : manager_(manager), active_(active),
      tokens_(active ? manager.provider().serializeTokens() : std::string())
{
}

TokenKeeper::~TokenKeeper()
{
	if (active_ && manager_.provider().serializeTokens() != tokens_)
		saveSettings(manager_);
}

} // namespace kestrel::cli
