#include "backup/backup-manager.h"
#include "backup/manifest.h"
#include "backup/run-steps.h"
#include "backup/utf8-text.h"
#include "cli-options.h"
#include "cloud-account.h"
#include "common/log.h"
#include "console.h"
#include "platform/app-data-folder.h"
#include "platform/home-folder.h"
#include "platform/obs-process.h"
#include "platform/plugin-install.h"
#include "platform/secret-store.h"
#include "platform/temp-files.h"
#include "platform/terminal.h"
#include "providers/utf8-path.h"
#include "restore-preview.h"

#include <nlohmann/json.hpp>
#ifdef KESTREL_HAS_LIBOBS
#include <obs.h>
#endif

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <iostream>

namespace kestrel::cli {

namespace {

enum ExitStatus { kDone = 0, kFailed = 1, kUsage = 2, kObsRunning = 3, kPartial = 4, kDeclined = 5 };

int fail(const std::string &reason, int status = kFailed)
{
	std::fprintf(stderr, "kestrel-backup: %s\n", printable(reason).c_str());
	return status;
}

// The engine's log lines: on standard error with --verbose, otherwise dropped.
void engineLogLine(int level, const char *format, va_list args, void *verbose)
{
	if (!*static_cast<bool *>(verbose))
		return;
	char line[4096];
	std::vsnprintf(line, sizeof line, format, args);
	std::fprintf(stderr, "%s%s\n", level <= static_cast<int>(LogLevel::Warning) ? "warning: " : "",
		     printable(line).c_str());
}

// The libobs this program is built with; unknown (empty) without one.
std::string obsVersion()
{
#ifdef KESTREL_HAS_LIBOBS
	return obs_get_version_string();
#else
	return {};
#endif
}

// The manifest records full paths, so a relative folder given here must not reach it.
std::string absolutePath(const std::string &path)
{
	std::error_code ec;
	const auto absolute = std::filesystem::absolute(pathFromUtf8(path), ec);
	return ec ? path : utf8FromPath(absolute.lexically_normal());
}

BackupEnvironment environmentFor(const Options &options)
{
	BackupEnvironment environment;
	environment.obsPaths = options.obsConfig.empty() ? findObsPaths(platform::roamingAppDataFolder())
							 : obsPathsIn(absolutePath(options.obsConfig));
	environment.obsVersion = obsVersion();
	environment.tempFolder = platform::temporaryFolder();
	environment.homeFolder = platform::homeFolder();
	if (!environment.obsPaths.configDir.empty()) {
		environment.settingsPath = settingsFileIn(environment.obsPaths.configDir);
		environment.keyring =
		    platform::systemSecretStore(secretsFolderBeside(environment.settingsPath));
	}
	reportSignInOnConsole(environment.cloudServices.signIn);
	environment.pluginLibrary = options.plugin.empty() ? std::string() : absolutePath(options.plugin);
	if (environment.pluginLibrary.empty() && !environment.obsPaths.configDir.empty()) {
		for (const std::string &installed :
		     platform::installedPluginPaths(environment.obsPaths.configDir)) {
			std::error_code ec;
			if (std::filesystem::is_regular_file(pathFromUtf8(installed), ec)) {
				environment.pluginLibrary = installed;
				break;
			}
		}
	}
	return environment;
}

std::string summaryJson(const BackupSummary &summary)
{
	return nlohmann::json({{"done", summary.done},
			       {"message", summary.message},
			       {"skipped", summary.skipped},
			       {"success", summary.success},
			       {"total", summary.total},
			       {"unchanged", summary.unchanged}})
	    .dump(2, ' ', true, nlohmann::json::error_handler_t::replace);
}

int finish(const BackupSummary &summary, const Options &options)
{
	if (options.json)
		std::printf("%s\n", summaryJson(summary).c_str());
	if (!summary.success)
		return fail(summary.message.empty() ? std::to_string(summary.skipped) + " of " +
							  std::to_string(summary.total) + " file(s) failed"
						    : summary.message);
	// A partial run keeps what it could, but whoever scheduled it must hear which files are missing.
	if (summary.skipped == 0)
		return kDone;
	std::fprintf(stderr, "kestrel-backup: partial: %d of %d file(s) skipped:\n", summary.skipped,
		     summary.total);
	for (const auto &file : summary.skippedFiles)
		std::fprintf(stderr, "  %s\n", printable(file).c_str());
	return kPartial;
}

std::string readableSize(int64_t bytes)
{
	if (bytes < 0)
		return "?";
	const char *units[] = {"B", "KB", "MB", "GB", "TB"};
	double value = static_cast<double>(bytes);
	size_t unit = 0;
	while (value >= 1024 && unit + 1 < std::size(units)) {
		value /= 1024;
		++unit;
	}
	char text[32];
	std::snprintf(text, sizeof(text), unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
	return text;
}

// Sizes come from a manifest, so their sum must not overflow.
int64_t totalSize(const BackupManifest &manifest)
{
	int64_t bytes = 0;
	for (const auto *entry : entriesInRunOrder(manifest)) {
		const int64_t size = std::max<int64_t>(entry->size, 0);
		bytes = size > INT64_MAX - bytes ? INT64_MAX : bytes + size;
	}
	return bytes;
}

void printTable(const BackupManifest &manifest)
{
	std::printf("Backup of %s, OBS %s, stored by %s\n\n", printable(manifest.createdAt).c_str(),
		    printable(manifest.obsVersion).c_str(), printable(manifest.providerName).c_str());
	std::printf("%-8s %10s  %s\n", "KIND", "SIZE", "ORIGINAL PATH");
	const std::pair<const char *, const std::vector<BackupEntry> *> lists[] = {
	    {"scene", &manifest.sceneCollections},
	    {"profile", &manifest.profiles},
	    {"media", &manifest.mediaFiles}};
	for (const auto &[kind, entries] : lists)
		for (const auto &entry : *entries)
			std::printf("%-8s %10s  %s\n", kind, readableSize(entry.size).c_str(),
				    printable(entry.originalLocal).c_str());
	std::printf("\n%zu file(s), %s\n", entriesInRunOrder(manifest).size(),
		    readableSize(totalSize(manifest)).c_str());
}

void printHistory(const std::vector<BackupManifest> &backups)
{
	std::printf("%-22s %7s %10s\n", "DATE", "FILES", "SIZE");
	for (const auto &backup : backups)
		std::printf("%-22s %7zu %10s%s\n", printable(backup.createdAt).c_str(),
			    entriesInRunOrder(backup).size(), readableSize(totalSize(backup)).c_str(),
			    &backup == &backups.front() ? "  (newest)" : "");
}

// The newest kept backup whose date starts with `date`.
const BackupManifest *backupFrom(const std::vector<BackupManifest> &backups, const std::string &date)
{
	for (const auto &backup : backups)
		if (backup.createdAt.rfind(date, 0) == 0)
			return &backup;
	return nullptr;
}

bool confirmRestore(const BackupManifest &manifest, const std::vector<RestoreStep> &plan)
{
	const size_t files = printRestorePlan(stderr, plan);
	std::fprintf(stderr,
		     "Restore %zu file(s) from the backup of %s, replacing the files in place? [y/N] ", files,
		     printable(manifest.createdAt).c_str());
	std::fflush(stderr);
	std::string answer;
	std::getline(std::cin, answer);
	return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

// The newest backup, or with --history or --from every kept one.
bool fetchBackups(BackupManager &manager, const Options &options, const RunLog &log, BackupManifest &manifest,
		  std::vector<BackupManifest> &backups)
{
	const bool fromHistory = options.history || !options.from.empty();
	return fromHistory ? manager.fetchHistory(backups, log) : manager.fetchManifest(manifest, log);
}

// With --from, takes the newest kept backup of that date; otherwise leaves `manifest` as fetched.
int pickFrom(const Options &options, const std::vector<BackupManifest> &backups, const std::string &where,
	     BackupManifest &manifest)
{
	if (options.from.empty())
		return kDone;
	const BackupManifest *chosen = backupFrom(backups, options.from);
	if (!chosen)
		return fail("no backup of " + options.from + " in " + where +
			    " (see: kestrel-backup show --history)");
	manifest = *chosen;
	return kDone;
}

int backupCommand(BackupManager &manager, Console &console, const Options &options, bool cloud)
{
	ICloudProvider &folder = manager.provider();
	if (!cloud && !folder.authenticate())
		return fail(folder.lastError());
	const BackupSummary summary = manager.runBackup(console.progress(), console.logger());
	console.clearBar();
	return finish(summary, options);
}

int showCommand(BackupManager &manager, const Options &options, const std::string &where)
{
	// The download's own lines are not news when all the user asked for is the table, unless
	// it fails and they tell why.
	std::vector<std::string> fetchLines;
	BackupManifest manifest;
	std::vector<BackupManifest> backups;
	const bool fetched = fetchBackups(
	    manager, options, [&](const std::string &line) { fetchLines.push_back(line); }, manifest,
	    backups);
	for (const auto &line : fetchLines)
		if (!fetched || line.rfind("  Warning: ", 0) == 0)
			std::fprintf(stderr, "%s\n", printable(line).c_str());
	if (!fetched)
		return fail("no usable backup in " + where);
	if (options.history) {
		printHistory(backups);
		return kDone;
	}
	if (const int status = pickFrom(options, backups, where, manifest); status != kDone)
		return status;
	if (options.json)
		// Escaped to ASCII: a terminal shows JSON too.
		std::printf("%s\n",
			    nlohmann::json::parse(manifestToJson(manifest)).dump(2, ' ', true).c_str());
	else
		printTable(manifest);
	return kDone;
}

int restoreCommand(BackupManager &manager, Console &console, const Options &options, const std::string &where)
{
	BackupManifest manifest;
	std::vector<BackupManifest> backups;
	if (!fetchBackups(manager, options, console.logger(), manifest, backups))
		return fail("no usable backup in " + where);
	if (const int status = pickFrom(options, backups, where, manifest); status != kDone)
		return status;
	manager.restoreCollectionName = options.name;
	manager.restoreOutsideHome = options.outsideHome;
	if (options.dryRun) {
		printRestorePlan(stdout, manager.planRestore(manifest));
		return kDone;
	}
	if (!options.yes) {
		if (!platform::stdinIsTerminal())
			return fail("restore replaces files in place; pass --yes to confirm", kUsage);
		if (!confirmRestore(manifest, manager.planRestore(manifest)))
			return fail("restore cancelled; nothing was changed", kDeclined);
	}
	const BackupSummary summary = manager.runRestore(manifest, console.progress(), console.logger());
	console.clearBar();
	return finish(summary, options);
}

int run(const Options &options)
{
	const bool terminal = platform::stderrIsTerminal();
	Console console(options.json ? stderr : stdout, options.quiet, terminal && !options.json);
	BackupManager manager(environmentFor(options));
	if (options.command == Command::Login)
		return login(manager, options);
	if (options.command == Command::Logout)
		return logout(manager, options);
	const bool cloud = !options.provider.empty();
	if (cloud) {
		if (const std::string problem = connectCloud(manager, options); !problem.empty())
			return fail(problem);
	} else {
		// The plug-in's settings say how many backups the history keeps.
		manager.loadSettings();
		manager.localPath = options.folder;
		manager.setProvider(ProviderKind::LocalFolder);
	}
	const TokenKeeper refreshedTokens(manager, cloud);
	if (options.command == Command::Backup)
		return backupCommand(manager, console, options, cloud);
	const std::string where = cloud ? manager.provider().name() : options.folder;
	if (!manager.provider().isAuthenticated())
		return fail("no backup folder at " + where);
	return options.command == Command::Show ? showCommand(manager, options, where)
						: restoreCommand(manager, console, options, where);
}

} // namespace

int main(int argc, char **argv)
{
	const std::vector<std::string> arguments = platform::utf8Arguments(argc, argv);
	std::vector<const char *> pointers;
	for (const std::string &argument : arguments)
		pointers.push_back(argument.c_str());
	std::string error;
	const auto options = parseOptions(static_cast<int>(pointers.size()) - 1, pointers.data() + 1, error);
	if (!options) {
		std::fprintf(stderr, "kestrel-backup: %s\nTry 'kestrel-backup --help'.\n",
			     printable(error).c_str());
		return kUsage;
	}
	if (options->command == Command::Help) {
		std::fputs(kUsageText, stdout);
		return kDone;
	}
	if (options->command == Command::Restore && !options->force && !options->dryRun &&
	    platform::obsIsRunning())
		return fail("OBS is running; close it first (it rewrites its settings when it exits), or "
			    "pass --force",
			    kObsRunning);
	bool verbose = options->verbose;
	setLogSink(&engineLogLine, &verbose);
	try {
		return run(*options);
	} catch (const std::exception &e) {
		return fail(std::string("Error: ") + e.what());
	}
}

} // namespace kestrel::cli

int main(int argc, char **argv)
{
	return kestrel::cli::main(argc, argv);
}
