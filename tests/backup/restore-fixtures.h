#pragma once

#include "backup/backup-manager.h"

#include "support/scratch-folder.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::test {

namespace fs = std::filesystem;

// The text with every `from` replaced by `to`, as a restore rewrites a home folder.
inline std::string replaced(std::string text, const std::string &from, const std::string &to)
{
	for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
		text.replace(at, from.size(), to);
	return text;
}

// Another user's computer: its own home and OBS configuration, restoring from a backup folder.
struct OtherComputer {
	explicit OtherComputer(const fs::path &root)
	    : home(root / "home/bob"), config(home / ".config/obs-studio")
	{
		fs::create_directories(config);
	}

	std::unique_ptr<BackupManager> manager(const fs::path &backupFolder) const
	{
		BackupEnvironment environment;
		environment.obsPaths = obsPathsIn(config.string());
		environment.tempFolder = (home / "tmp").string();
		environment.homeFolder = home.string();
		fs::create_directories(environment.tempFolder);
		auto manager = std::make_unique<BackupManager>(environment);
		manager->localPath = backupFolder.string();
		manager->setProvider(ProviderKind::LocalFolder);
		return manager;
	}

	fs::path home;
	fs::path config;
};

struct RunLines {
	std::vector<std::string> lines;
	RunLog callback()
	{
		return [this](const std::string &line) { lines.push_back(line); };
	}
	bool has(const std::string &line) const
	{
		return std::find(lines.begin(), lines.end(), line) != lines.end();
	}
};

// A backup written by hand, for restores of exactly chosen content.
struct HandMadeBackup {
	ScratchFolder scratch;
	fs::path folder = scratch / "backup";
	BackupManifest manifest;

	void add(std::vector<BackupEntry> &list, const std::string &remote, const std::string &originalLocal,
		 const std::string *content)
	{
		const int64_t size = content ? static_cast<int64_t>(content->size()) : 1;
		list.push_back({fs::path(originalLocal).filename().string(), remote, originalLocal, size});
		if (content)
			writeFile(folder / remote, *content);
	}
};

} // namespace kestrel::test
