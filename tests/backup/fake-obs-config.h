#pragma once

#include "backup/backup-manager.h"

#include "support/scratch-folder.h"

namespace kestrel::test {

// An OBS configuration laid out like a real user's, below a home folder in a scratch folder,
// with the media its scene collections refer to.
struct FakeObsConfig {
	ScratchFolder scratch;
	std::filesystem::path home = scratch / "home/alice";
	std::filesystem::path config = home / ".config/obs-studio";
	std::filesystem::path scenes = config / "basic/scenes";
	std::filesystem::path profiles = config / "basic/profiles";
	std::filesystem::path backupFolder = scratch / "OneDrive/obs-cloud-backup";
	std::filesystem::path tempFolder = scratch / "tmp";
	std::filesystem::path pluginLibrary = scratch / "obs-plugins/kestrel.so";

	FakeObsConfig();

	// Scene collections with image, media, font and browser-file paths, a damaged one, a
	// Scene.JSON and a folder named old.json; two profiles, one with a subfolder.
	void addRealisticSetup();

	BackupEnvironment environment() const;
	// A manager on the local folder back-end at `backupFolder`, already connected.
	std::unique_ptr<BackupManager> manager() const;
};

} // namespace kestrel::test
