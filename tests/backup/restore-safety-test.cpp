#include "backup/active-collection.h"
#include "backup/backup-manager.h"
#include "backup/json-member-text.h"
#include "backup/manifest.h"
#include "backup/path-remap.h"

#include "restore-fixtures.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::HandMadeBackup;
using test::OtherComputer;
using test::readFile;
using test::replaced;
using test::RunLines;
using test::writeFile;

// A backup folder as an attacker would lay it out, next to honest entries that must still
// restore exactly.
TEST(RestoreSafety, CraftedBackupFolderCannotReachOutsideTheHome)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const fs::path root = backup.scratch.root();
	const std::string alice = (root / "home/alice").string(), config = alice + "/.config/obs-studio";
	auto &scenes = backup.manifest.sceneCollections;
	auto &profiles = backup.manifest.profiles;
	auto &media = backup.manifest.mediaFiles;
	const std::string payload = "payload", intro = "intro", fresh = "fresh";
	const std::string scene = R"({"name": "Show\r\n[Hack]\nEvil=1", "sources": [{"file": ")" + alice +
				  R"(/Videos/intro.mp4"}]})";
	const std::string ini = "[General]\nName=Main\n";
	backup.add(scenes, "obs-cloud-backup/scenes/Show.json", config + "/basic/scenes/Show.json", &scene);
	backup.add(scenes, "obs-cloud-backup/scenes/p.json", config + "/basic/scenes/../../../../../.profile",
		   &payload);
	backup.add(profiles, "obs-cloud-backup/profiles/Main/basic.ini",
		   config + "/basic/profiles/Main/basic.ini", &ini);
	backup.add(profiles, "obs-cloud-backup/profiles/Main/../../x", config + "/basic/profiles/Main/x",
		   nullptr);
	backup.add(profiles, "obs-cloud-backup/profiles/P/x.ini",
		   config + "/basic/profiles/P/../../../../../.bashrc", &payload);
	backup.add(media, "obs-cloud-backup/media/1_intro.mp4", alice + "/Videos/intro.mp4", &intro);
	backup.add(media, "obs-cloud-backup/media/2_w.mp4", alice + "\\Videos\\w.mp4", &intro);
	backup.add(media, "obs-cloud-backup/media/3", (root / "escape.txt").string(), &payload);
	backup.add(media, "obs-cloud-backup/media/4", "/etc/kestrel-restore-escape", &payload);
	backup.add(media, "obs-cloud-backup/media/5", alice + "/../../escape-dots.txt", &payload);
	backup.add(media, "obs-cloud-backup/media/6", "relative/escape.txt", &payload);
	backup.add(media, "obs-cloud-backup/media/7", alice + "/.bashrc", &payload);
	backup.add(media, "obs-cloud-backup/media/8", config + "/plugins/evil/bin/64bit/evil.so", &payload);
	backup.add(media, "obs-cloud-backup/media/9", alice + std::string("/Videos/..\0/x", 14), &payload);
	backup.add(media, "obs-cloud-backup/media/10", alice + "/Videos/hostname", nullptr);
	fs::create_symlink(root / "secret.txt", backup.folder / "obs-cloud-backup/media/10");
	backup.add(media, "obs-cloud-backup/linked/s.txt", alice + "/Videos/s.txt", nullptr);
	fs::create_directory_symlink(root / "outside", backup.folder / "obs-cloud-backup/linked");
	backup.add(media, "other/secret.txt", alice + "/Videos/other.txt", &payload);
	backup.add(media, "obs-cloud-backup/media/11", alice + "/Videos/linked.mp4", &fresh);

	writeFile(root / "secret.txt", "secret");
	writeFile(root / "outside/s.txt", "secret");
	writeFile(root / "victim.txt", "victim");
	writeFile(bob.home / ".bashrc", "bob's own");
	fs::create_directories(bob.home / "Videos");
	fs::create_symlink(root / "victim.txt", bob.home / "Videos/linked.mp4");
	writeFile(bob.config / "global.ini", "[Basic]\nSceneCollection=Old\nSceneCollectionFile=Old\n");

	RunLines log;
	const BackupSummary summary =
	    bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, log.callback());
	EXPECT_EQ(summary.total, 18);
	EXPECT_EQ(summary.done, 6);
	EXPECT_EQ(summary.skipped, 12);

	const std::string b = bob.home.string();
	EXPECT_EQ(readFile(bob.config / "basic/scenes/Show.json"), replaced(scene, alice, b));
	EXPECT_EQ(readFile(bob.config / "basic/scenes/.profile"), payload) << "reduced to a file name";
	EXPECT_EQ(readFile(bob.config / "basic/profiles/Main/basic.ini"), ini);
	EXPECT_EQ(readFile(bob.home / "Videos/intro.mp4"), intro);
	EXPECT_EQ(readFile(bob.home / "Videos/w.mp4"), intro) << "Windows separators";
	EXPECT_EQ(readFile(bob.config / "global.ini"),
		  "[Basic]\nSceneCollection=Show__[Hack]_Evil=1\nSceneCollectionFile=Show\n");

	EXPECT_FALSE(fs::exists(root / "escape.txt"));
	EXPECT_FALSE(fs::exists("/etc/kestrel-restore-escape"));
	EXPECT_FALSE(fs::exists(root / "escape-dots.txt"));
	EXPECT_FALSE(fs::exists("relative/escape.txt"));
	EXPECT_FALSE(fs::exists(bob.home / ".profile"));
	EXPECT_EQ(readFile(bob.home / ".bashrc"), "bob's own");
	EXPECT_FALSE(fs::exists(bob.config / "plugins"));
	EXPECT_FALSE(fs::exists(bob.home / "Videos/hostname"));
	EXPECT_FALSE(fs::exists(bob.home / "Videos/s.txt"));
	EXPECT_FALSE(fs::exists(bob.home / "Videos/other.txt"));
	EXPECT_EQ(std::distance(fs::directory_iterator(root / "home"), fs::directory_iterator()), 1)
	    << "nothing next to the home folder";
	EXPECT_EQ(readFile(root / "victim.txt"), "victim") << "a link at the destination is replaced";
	EXPECT_FALSE(fs::is_symlink(bob.home / "Videos/linked.mp4"));
	EXPECT_EQ(readFile(bob.home / "Videos/linked.mp4"), fresh);

	const std::string outside = "outside the home folder; restore it with --outside-home";
	for (const std::string &line : std::vector<std::string>{
		 "  Skipped (unsafe path): obs-cloud-backup/profiles/Main/../../x",
		 "  Skipped (not in a profile folder): " + config +
		     "/basic/profiles/P/../../../../../.bashrc",
		 "  Skipped (" + outside + "): " + (root / "escape.txt").string(),
		 "  Skipped (" + outside + "): /etc/kestrel-restore-escape",
		 "  Skipped (outside the home folder): " + alice + "/../../escape-dots.txt",
		 "  Skipped (" + outside + "): relative/escape.txt",
		 "  Skipped (hidden file or folder of the home): " + alice + "/.bashrc",
		 "  Skipped (inside OBS's plug-in folder): " + config + "/plugins/evil/bin/64bit/evil.so",
		 "  Skipped (control characters in the path): " + alice + std::string("/Videos/..\0/x", 14),
		 "  Skipped (error): Refused a link in the backup folder: obs-cloud-backup/media/10",
		 "  Skipped (error): Refused a link in the backup folder: obs-cloud-backup/linked/s.txt",
		 "  Skipped (unsafe path): other/secret.txt"})
		EXPECT_TRUE(log.has(line)) << line;

	// Media from outside the old home goes back only on request, and then still not relatively
	// or into hidden folders.
	media = {};
	backup.add(media, "obs-cloud-backup/media/3", (root / "escape.txt").string(), &payload);
	backup.add(media, "obs-cloud-backup/media/6", "relative/escape.txt", &payload);
	backup.add(media, "obs-cloud-backup/media/12", (root / ".hidden/x").string(), &payload);
	auto manager = bob.manager(backup.folder);
	manager->restoreOutsideHome = true;
	log.lines.clear();
	EXPECT_EQ(manager->runRestore(backup.manifest, nullptr, log.callback()).done, 4);
	EXPECT_EQ(readFile(root / "escape.txt"), payload);
	EXPECT_TRUE(log.has("  Skipped (not an absolute path): relative/escape.txt"));
	EXPECT_TRUE(log.has("  Skipped (hidden file or folder): " + (root / ".hidden/x").string()));
}

TEST(RestoreSafety, UsersFolderInsideAHomeBelongsToThatHome)
{
	EXPECT_EQ(userHomePrefix("/home/alice/Work/users/team/logo.png"), "/home/alice");
	EXPECT_EQ(remapUserPath("/home/alice/Work/users/team/logo.png", "/home/bob"),
		  "/home/bob/Work/users/team/logo.png");
	EXPECT_EQ(remapUserPath("C:\\Users\\Alice\\home\\x", "C:\\Users\\Bob"), "C:\\Users\\Bob\\home\\x");

	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string alice = (backup.scratch / "home/alice").string();
	const std::string logo = alice + "/Work/users/team/logo.png";
	const std::string scene = R"({"name": "S", "file": ")" + logo + "\"}";
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/S.json",
		   alice + "/.config/obs-studio/basic/scenes/S.json", &scene);
	backup.add(backup.manifest.mediaFiles, "obs-cloud-backup/media/1_logo.png", logo, &scene);
	RunLines log;
	EXPECT_EQ(bob.manager(backup.folder)->runRestore(backup.manifest, nullptr, log.callback()).done, 2);
	const std::string restored = (bob.home / "Work/users/team/logo.png").string();
	EXPECT_TRUE(fs::exists(restored));
	EXPECT_EQ(readFile(bob.config / "basic/scenes/S.json"),
		  R"({"name": "S", "file": ")" + restored + "\"}")
	    << "the scene's reference and the file agree";
}

TEST(RestoreSafety, DeepSceneRestoresUnderANewName)
{
	HandMadeBackup backup;
	OtherComputer bob(backup.scratch.root());
	const std::string alice = (backup.scratch / "home/alice").string();
	const size_t depth = 66000;
	const std::string scene = R"({"name": "Deep", "sources": )" + std::string(depth, '[') + "\"" + alice +
				  "/a.png\"" + std::string(depth, ']') + "}";
	backup.add(backup.manifest.sceneCollections, "obs-cloud-backup/scenes/Deep.json",
		   alice + "/.config/obs-studio/basic/scenes/Deep.json", &scene);
	writeFile(bob.config / "global.ini", "SceneCollection=Old\nSceneCollectionFile=Old\n");
	auto manager = bob.manager(backup.folder);
	manager->restoreCollectionName = "Deep Show";
	RunLines log;
	EXPECT_EQ(manager->runRestore(backup.manifest, nullptr, log.callback()).done, 1);
	const fs::path restored = bob.config / "basic/scenes/Deep_Show.json";
	EXPECT_EQ(readCollectionName(restored.string()), "Deep Show");
	EXPECT_NE(readFile(restored).find(bob.home.string() + "/a.png"), std::string::npos);
	EXPECT_EQ(readFile(bob.config / "global.ini"),
		  "SceneCollection=Deep Show\nSceneCollectionFile=Deep_Show\n");

	// The name member is found by its value, not by how it is spelt, and a reader keeps the last.
	EXPECT_EQ(
	    topLevelString("\xEF\xBB\xBF {\"n\\u0061me\": \"A\", \"x\": {\"name\": \"in\"}, \"name\": \"B\"}",
			   "name"),
	    "B");
	EXPECT_EQ(withTopLevelString(R"({"name": 1, "a": [{"name": "in"}], "name": "x"})", "name", "N"),
		  R"({"name": "N", "a": [{"name": "in"}], "name": "N"})");
	EXPECT_EQ(withTopLevelString("{ }", "name", "N"), R"({"name": "N" })");
	EXPECT_EQ(withTopLevelString(R"({"a": 1})", "name", "N"), R"({"name": "N", "a": 1})");
	EXPECT_EQ(withTopLevelString("[1]", "name", "N"), std::nullopt);
	EXPECT_EQ(withTopLevelString("{\"a\": 1} x", "name", "N"), std::nullopt);
}

TEST(RestoreSafety, UntrustedNumbersAndNamesStayInRange)
{
	const BackupManifest manifest = manifestFromJson(R"({"mediaFiles": [
		{"size": 1e300}, {"size": -5}, {"size": -1}, {"size": 5000000000}, {"size": 2.5},
		{"size": 18446744073709551615}, {"size": 4.0}, {"size": -9.3e18}, {"name": "kept"}]})");
	std::vector<int64_t> sizes;
	for (const auto &entry : manifest.mediaFiles)
		sizes.push_back(entry.size);
	EXPECT_EQ(sizes, (std::vector<int64_t>{0, -1, -1, 5000000000, 0, 0, 4, 0, -1}))
	    << "a negative or missing size is unknown";

	test::ScratchFolder scratch;
	BackupEnvironment environment;
	environment.settingsPath = (scratch / "cloud-backup.json").string();
	BackupManager manager(environment);
	for (const auto &[text, kind] :
	     {std::pair{R"({"provider": 1e300})", ProviderKind::GoogleDrive},
	      std::pair{R"({"provider": 2.0})", ProviderKind::LocalFolder},
	      std::pair{R"({"provider": 4294967298})", ProviderKind::GoogleDrive}}) {
		manager.setProvider(ProviderKind::OneDrive);
		writeFile(environment.settingsPath, text);
		manager.loadSettings();
		EXPECT_EQ(manager.providerKind(), kind) << text;
	}

	EXPECT_EQ(withIniValue("[A]\nName=x\n[B]\n", "Name", "a\r\n[Evil]\nK=1\x7f"),
		  "[A]\nName=a__[Evil]_K=1_\n[B]\n");
	EXPECT_EQ(withIniValue("[A]\n", "Name", "x"), std::nullopt);
}

} // namespace
} // namespace kestrel
