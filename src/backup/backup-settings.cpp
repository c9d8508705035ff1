#include "backup/backup-manager.h"

#include "backup/file-bytes.h"
#include "backup/json-number.h"
#include "backup/settings-secrets.h"
#include "module/log.h"
#include "providers/atomic-file.h"
#include "providers/google-drive-provider.h"
#include "providers/local-folder-provider.h"
#include "providers/onedrive-provider.h"
#include "providers/utf8-path.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace kestrel {

using nlohmann::json;

namespace {

std::string stringSetting(const json &settings, const char *key)
{
	const auto it = settings.find(key);
	return it == settings.end() ? std::string() : it->get<std::string>();
}

bool flagSetting(const json &settings, const char *key, bool fallback)
{
	const auto it = settings.find(key);
	return it != settings.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

// A damaged or missing part keeps the default of what it could not read.
AutoBackupSettings autoBackupFrom(const json &settings)
{
	AutoBackupSettings automatic;
	const auto it = settings.find("auto_backup");
	if (it == settings.end() || !it->is_object())
		return automatic;
	automatic.afterStream = flagSetting(*it, "after_stream", automatic.afterStream);
	automatic.afterRecording = flagSetting(*it, "after_recording", automatic.afterRecording);
	automatic.onExit = flagSetting(*it, "on_exit", automatic.onExit);
	automatic.dailyAtStart = flagSetting(*it, "daily_at_start", automatic.dailyAtStart);
	if (const auto kept = it->find("kept"); kept != it->end() && kept->is_number())
		automatic.kept = static_cast<int32_t>(
		    integerInRange(*kept, AutoBackupSettings::kMinKept, AutoBackupSettings::kMaxKept)
			.value_or(automatic.kept));
	return automatic;
}

json autoBackupJson(const AutoBackupSettings &automatic)
{
	return {
	    {"after_stream", automatic.afterStream},
	    {"after_recording", automatic.afterRecording},
	    {"on_exit", automatic.onExit},
	    {"daily_at_start", automatic.dailyAtStart},
	    {"kept", std::clamp(automatic.kept, AutoBackupSettings::kMinKept, AutoBackupSettings::kMaxKept)}};
}

} // namespace

ProviderKind providerKindFromNumber(int64_t number)
{
	if (number == 2)
		return ProviderKind::LocalFolder;
	if (number == 1)
		return ProviderKind::OneDrive;
	return ProviderKind::GoogleDrive;
}

BackupManager::BackupManager(BackupEnvironment environment) : environment_(std::move(environment))
{
	setProvider(ProviderKind::GoogleDrive);
}

void BackupManager::setProvider(ProviderKind kind)
{
	providerKind_ = kind;
	CloudServices services = environment_.cloudServices;
	// The plug-in and the command line share the settings, so a lock beside them keeps their
	// runs on one account apart.
	if (services.runLockFolder.empty() && !environment_.settingsPath.empty())
		services.runLockFolder = utf8FromPath(pathFromUtf8(environment_.settingsPath).parent_path());
	switch (kind) {
	case ProviderKind::GoogleDrive:
		provider_ = std::make_unique<GoogleDriveProvider>(services);
		break;
	case ProviderKind::OneDrive:
		provider_ = std::make_unique<OneDriveProvider>(services);
		break;
	default:
		provider_ = std::make_unique<LocalFolderProvider>(localPath);
		break;
	}
	provider_->setClientId(clientId);
	provider_->setClientSecret(clientSecret);
}

void BackupManager::loadSettings()
{
	if (environment_.settingsPath.empty())
		return;
	const auto text = readFileBytes(environment_.settingsPath);
	if (!text)
		return;
	try {
		const json settings = json::parse(*text);
		if (!settings.is_object())
			return;
		clientId = stringSetting(settings, "client_id");
		bool moveToKeyring = false;
		const SignInSecrets secrets =
		    SettingsSecrets(environment_.keyring).read(settings, moveToKeyring);
		clientSecret = secrets.clientSecret;
		localPath = stringSetting(settings, "local_path");
		autoBackup = autoBackupFrom(settings);
		const auto provider = settings.find("provider");
		setProvider(providerKindFromNumber(
		    provider == settings.end()
			? 0
			: integerInRange(*provider, INT32_MIN, INT32_MAX).value_or(0)));
		if (!secrets.tokens.empty())
			provider_->loadTokens(secrets.tokens);
		// A file from before the keyring hands its sign-in over on first use.
		if (moveToKeyring)
			writeSettings();
	} catch (const json::exception &) {
		// What was read before the damage stays.
	} catch (const std::exception &e) {
		KESTREL_LOG(LOG_WARNING, "The sign-in stays in the settings file: %s", e.what());
	}
}

void BackupManager::writeSettings()
{
	if (environment_.settingsPath.empty())
		return;
	const std::filesystem::path file = pathFromUtf8(environment_.settingsPath);
	if (file.has_parent_path())
		std::filesystem::create_directories(file.parent_path());
	json settings = {
	    {"client_id", clientId},
	    {"local_path", localPath},
	    {"provider", static_cast<int32_t>(providerKindFromNumber(static_cast<int32_t>(providerKind_)))},
	    {"auto_backup", autoBackupJson(autoBackup)}};
	const auto previous = readFileBytes(environment_.settingsPath);
	settings.update(SettingsSecrets(environment_.keyring)
			    .members({clientSecret, provider_->serializeTokens()},
				     previous ? json::parse(*previous, nullptr, false) : json()));
	const std::string text = withNativeLineEnds(settings.dump(2, ' ', false));
	if (std::string error = writeFileAtomically(file, text, true); !error.empty())
		throw std::runtime_error("Cannot write settings file " + environment_.settingsPath + ": " +
					 error);
}

} // namespace kestrel
