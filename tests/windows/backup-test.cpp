#include "backup/backup-manager.h"
#include "backup/media-policy.h"
#include "backup/path-remap.h"
#include "backup/restore-plan.h"
#include "providers/utf8-path.h"
#include "support/scratch-folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::ScratchFolder;
using test::writeFile;

std::string utf8(const fs::path &path)
{
	return utf8FromPath(path);
}

void markFolder(const fs::path &folder, DWORD attribute)
{
	fs::create_directories(folder);
	ASSERT_TRUE(SetFileAttributesW(folder.c_str(), attribute));
}

// Two Windows users on one computer, below a folder of their own at the drive's root (the
// system's temporary folder lies below a users folder itself).
struct TwoUsers {
	ScratchFolder scratch{fs::path(L"C:\\")};
	fs::path alice = scratch / "Users\\alice";
	fs::path bob = scratch / "Users\\bob";
	fs::path aliceConfig = alice / "AppData\\Roaming\\obs-studio";
	fs::path bobConfig = bob / "AppData\\Roaming\\obs-studio";

	TwoUsers()
	{
		fs::create_directories(aliceConfig / "basic\\scenes");
		fs::create_directories(bobConfig / "basic\\scenes");
	}
};

TEST(WindowsPathRemap, UserFoldersMoveAcrossNamesDrivesAndLetterCase)
{
	EXPECT_EQ(remapUserPath("C:\\Users\\alice\\Videos\\a.mp4", "C:\\Users\\bob"),
		  "C:\\Users\\bob\\Videos\\a.mp4");
	EXPECT_EQ(remapUserPath("D:\\Users\\alice\\Videos\\a.mp4", "C:\\Users\\bob"),
		  "C:\\Users\\bob\\Videos\\a.mp4");
	EXPECT_EQ(remapUserPath("c:/users/ALICE/Música/ñ.wav", "E:\\Perfiles\\bob"),
		  "E:\\Perfiles\\bob/Música/ñ.wav");
	EXPECT_EQ(remapUserPath("D:\\Media\\logo.png", "C:\\Users\\bob"), "D:\\Media\\logo.png");
	EXPECT_EQ(userHomePrefix("C:\\Users\\José Núñez\\Videos\\a.mp4"), "C:\\Users\\José Núñez");

	// OBS writes forward slashes in its JSON, a file dialog may give another letter case, and
	// a profile's ini holds plain backslashes: every spelling follows the move.
	std::string scene = R"({"a": "C:/Users/alice/Videos/intro.mp4", "b": "c:\\users\\ALICE\\配信.mkv",)"
			    R"( "c": "C:\\Users\\alicia\\x.png", "d": "D:/Media/logo.png"})";
	EXPECT_EQ(rewritePathsInText(scene, {{"C:\\Users\\alice", "C:\\Users\\bob"}}, true), 2);
	EXPECT_EQ(scene, R"({"a": "C:/Users/bob/Videos/intro.mp4", "b": "C:\\Users\\bob\\配信.mkv",)"
			 R"( "c": "C:\\Users\\alicia\\x.png", "d": "D:/Media/logo.png"})");
	std::string ini = "[Output]\r\nRecFilePath=C:\\USERS\\Alice\\Videos\r\n";
	EXPECT_EQ(rewritePathsInText(ini, {{"C:\\Users\\alice", "D:\\Users\\bob"}}, false), 1);
	EXPECT_EQ(ini, "[Output]\r\nRecFilePath=D:\\Users\\bob\\Videos\r\n");
}

TEST(WindowsMediaPolicy, AppDataAndHiddenOrSystemFoldersAreNotBackedUp)
{
	TwoUsers users;
	const fs::path &home = users.alice;
	const std::map<std::string, std::string> cases = {
	    {"Videos\\intro ñ.mp4", ""},
	    {"AppData\\Roaming\\obs-studio\\media\\logo.png", ""},
	    {"AppData\\Local\\Google\\Chrome\\User Data\\Default\\Login Data",
	     "inside the application data folder"},
	    {"AppData\\Roaming\\Microsoft\\Credentials\\ABC", "inside the application data folder"},
	    {"Secretos\\wallet.dat", "inside a hidden or system folder"},
	    {"Sistema\\deep\\x.bin", "inside a hidden or system folder"},
	    {".ssh\\id_ed25519", "inside the hidden folder " + utf8(home / ".ssh")},
	    {"AppData\\Roaming\\obs-studio\\plugin_config\\obs-websocket\\config.json",
	     "inside OBS's plug-in settings folder"},
	};
	for (const auto &[relative, reason] : cases)
		writeFile(home / pathFromUtf8(relative), "bytes");
	markFolder(home / "Secretos", FILE_ATTRIBUTE_HIDDEN);
	markFolder(home / "Sistema", FILE_ATTRIBUTE_SYSTEM);
	// AppData itself is hidden on Windows; OBS's folder below it stays backed up.
	markFolder(home / "AppData", FILE_ATTRIBUTE_HIDDEN);

	for (const auto &[relative, reason] : cases)
		EXPECT_EQ(
		    mediaRefusal(utf8(home / pathFromUtf8(relative)), utf8(home), utf8(users.aliceConfig)),
		    reason)
		    << relative;
	// A device name is no file, whatever folder or extension it comes with: nothing is read.
	for (const char *device : {"NUL", "con", "COM1.mp4", "LPT1.png"})
		EXPECT_NE(mediaRefusal(utf8(home / "Videos" / device), utf8(home), utf8(users.aliceConfig)),
			  "")
		    << device;
	// Written in another letter case or with forward slashes, as scene collections may.
	std::string upper = utf8(home / "APPDATA/local/Google/Chrome/User Data/Default/Login Data");
	EXPECT_EQ(mediaRefusal(upper, utf8(home), utf8(users.aliceConfig)),
		  "inside the application data folder");
	std::string lowerHome = utf8(home);
	std::transform(lowerHome.begin(), lowerHome.end(), lowerHome.begin(), ::tolower);
	EXPECT_EQ(mediaRefusal(
		      lowerHome + "\\appdata\\roaming\\OBS-Studio\\PLUGIN_CONFIG\\obs-websocket\\config.json",
		      utf8(home), utf8(users.aliceConfig)),
		  "inside OBS's plug-in settings folder");
	EXPECT_EQ(mediaRefusal(utf8(home / ".ssh\\id_ed25519"), lowerHome, utf8(users.aliceConfig)),
		  "inside the hidden folder " + lowerHome + "\\.ssh");
}

// Where the plan puts each media path of a backup made by alice when bob restores it.
std::map<std::string, std::string> planFor(const std::vector<std::string> &originals,
					   const RestoreRules &rules)
{
	BackupManifest manifest;
	for (size_t i = 0; i < originals.size(); ++i)
		manifest.mediaFiles.push_back(
		    {"x", "obs-cloud-backup/media/" + std::to_string(i), originals[i], 1});
	std::map<std::string, std::string> outcome;
	for (const RestoreStep &step : restorePlan(manifest, rules))
		outcome[step.entry->originalLocal] =
		    step.destination.empty() ? "(" + step.refusal + ")" : step.destination;
	return outcome;
}

TEST(WindowsRestorePlan, NamesWindowsCannotHoldAndLaunchablesInStartupAreRefused)
{
	RestoreRules rules;
	rules.newHome = "C:\\Users\\bob";
	rules.obsPaths = obsPathsIn("C:\\Users\\bob\\AppData\\Roaming\\obs-studio");
	const std::string startup =
	    "C:\\Users\\A\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\";
	const std::string launchable = "(an executable or script in a Startup folder)";
	const std::string notAName = "(not a file name)";
	const std::vector<std::string> originals = {
	    startup + "x.bat",
	    startup + "x.PS1",
	    startup + "readme.txt",
	    "C:\\Users\\A\\AppData\\Local\\Google\\Chrome\\User Data\\Default\\Cookies",
	    "c:\\users\\ALICE\\Videos\\Intro.mp4",
	    "D:\\Users\\alice\\Música\\配信 🎥.wav",
	    "C:\\Users\\alice\\Videos\\CON",
	    "C:\\Users\\alice\\Videos\\nul.mp4",
	    "C:\\Users\\alice\\COM1 .txt\\a.mp4",
	    "C:\\Users\\alice\\Videos\\clip.bat.",
	    "C:\\Users\\alice\\Videos\\clip.mp4 ",
	    "C:\\Users\\alice\\Videos\\clip.mp4:hidden",
	    "C:\\Users\\alice\\Videos\\a?.mp4",
	    "D:\\Media\\logo.png",
	};
	auto outcome = planFor(originals, rules);
	EXPECT_EQ(outcome[originals[0]], launchable);
	EXPECT_EQ(outcome[originals[1]], launchable);
	EXPECT_EQ(outcome[originals[2]], "(inside the application data folder)");
	EXPECT_EQ(outcome[originals[3]], "(inside the application data folder)");
	EXPECT_EQ(outcome[originals[4]], "C:\\Users\\bob\\Videos\\Intro.mp4");
	EXPECT_EQ(outcome[originals[5]], "C:\\Users\\bob\\Música\\配信 🎥.wav");
	for (size_t i = 6; i <= 12; ++i)
		EXPECT_EQ(outcome[originals[i]], notAName) << originals[i];
	EXPECT_EQ(outcome[originals[13]], "(outside the home folder; restore it with --outside-home)");

	// Outside the home by choice: still never a launchable into any Startup folder.
	rules.outsideHome = true;
	const std::vector<std::string> outside = {
	    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\y.cmd",
	    "E:\\Start Menu\\Programs\\Startup\\z.vbs",
	    "D:\\Media\\logo.png",
	    "C:\\Windows\\System32\\evil.dll",
	};
	outcome = planFor(outside, rules);
	EXPECT_EQ(outcome[outside[0]], launchable);
	EXPECT_EQ(outcome[outside[1]], launchable);
	EXPECT_EQ(outcome[outside[2]], "D:\\Media\\logo.png");
	EXPECT_EQ(outcome[outside[3]], "(inside the system folder C:\\Windows)");
}

// The hostile backup folder of the POSIX restore tests, with Windows paths: honest entries
// restore byte for byte, every attack is refused with its reason in the log.
TEST(WindowsHostileFolder, RestoreForAnotherUserStaysInItsPlace)
{
	TwoUsers users;
	const fs::path backupFolder = users.scratch / "OneDrive\\OBS-Backup";
	const std::string alice = "C:\\Users\\alice", config = alice + "\\AppData\\Roaming\\obs-studio";
	BackupManifest manifest;
	int stored = 0;
	auto add = [&](std::vector<BackupEntry> &list, const std::string &original,
		       const std::string &bytes) {
		const std::string remote = "obs-cloud-backup/media/" + std::to_string(++stored);
		list.push_back({"x", remote, original, static_cast<int64_t>(bytes.size())});
		writeFile(backupFolder / pathFromUtf8(remote), bytes);
	};
	const std::string scene =
	    R"({"name": "Show", "sources": [{"file": "C:/Users/alice/Videos/intro ñ.mp4"}]})";
	const std::string longName = std::string(120, 'v') + "\\" + std::string(120, 'w') + "\\clip.mp4";
	add(manifest.sceneCollections, config + "\\basic\\scenes\\Show.json", scene);
	add(manifest.mediaFiles, alice + "\\Videos\\intro ñ.mp4", "intro");
	add(manifest.mediaFiles, alice + "\\Música\\配信 🎥.wav", "wave");
	add(manifest.mediaFiles, alice + "\\" + longName, "long");
	add(manifest.mediaFiles,
	    alice + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\x.bat",
	    "calc.exe");
	add(manifest.mediaFiles,
	    alice + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\y.lnk.", "link");
	add(manifest.mediaFiles, alice + "\\AppData\\Local\\Microsoft\\Credentials\\cred", "token");
	add(manifest.mediaFiles, alice + "\\Oculto\\planted.mp4", "planted");
	add(manifest.mediaFiles, config + "\\plugins\\evil\\bin\\64bit\\evil.dll", "dll");
	add(manifest.mediaFiles, config + "\\global.ini", "[General]\r\n");
	add(manifest.mediaFiles, alice + "\\Videos\\NUL", "lost");
	add(manifest.mediaFiles, "C:\\Windows\\System32\\drivers\\etc\\hosts", "0.0.0.0 example.com");

	const fs::path bob = users.bob;
	markFolder(bob / "Oculto", FILE_ATTRIBUTE_HIDDEN);
	BackupEnvironment environment;
	environment.obsPaths = obsPathsIn(utf8(users.bobConfig));
	environment.tempFolder = utf8(users.scratch / "Temp");
	environment.homeFolder = utf8(bob);
	fs::create_directories(users.scratch / "Temp");
	BackupManager manager(environment);
	manager.localPath = utf8(backupFolder);
	manager.setProvider(ProviderKind::LocalFolder);
	std::vector<std::string> lines;
	const BackupSummary summary =
	    manager.runRestore(manifest, nullptr, [&](const std::string &line) { lines.push_back(line); });
	EXPECT_EQ(summary.done, 4);
	EXPECT_EQ(summary.skipped, 8);

	std::string bobForward = utf8(bob);
	std::replace(bobForward.begin(), bobForward.end(), '\\', '/');
	EXPECT_EQ(readFile(users.bobConfig / "basic\\scenes\\Show.json"),
		  R"({"name": "Show", "sources": [{"file": ")" + bobForward + R"(/Videos/intro ñ.mp4"}]})");
	EXPECT_EQ(readFile(bob / pathFromUtf8("Videos\\intro ñ.mp4")), "intro");
	EXPECT_EQ(readFile(bob / pathFromUtf8("Música\\配信 🎥.wav")), "wave");
	EXPECT_EQ(readFile(bob / longName), "long");
	EXPECT_GT(utf8(bob / longName).size(), 260u);

	EXPECT_FALSE(fs::exists(bob / "AppData\\Roaming\\Microsoft"));
	EXPECT_FALSE(fs::exists(bob / "AppData\\Local"));
	EXPECT_FALSE(fs::exists(bob / "Oculto\\planted.mp4"));
	EXPECT_FALSE(fs::exists(users.bobConfig / "plugins"));
	EXPECT_FALSE(fs::exists(users.bobConfig / "global.ini"));
	for (const std::string &line : std::vector<std::string>{
		 "  Skipped (an executable or script in a Startup folder): " + alice +
		     "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\x.bat",
		 "  Skipped (not a file name): " + alice +
		     "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\y.lnk.",
		 "  Skipped (inside the application data folder): " + alice +
		     "\\AppData\\Local\\Microsoft\\Credentials\\cred",
		 "  Skipped (inside a hidden or system folder): " + alice + "\\Oculto\\planted.mp4",
		 "  Skipped (inside OBS's plug-in folder): " + config +
		     "\\plugins\\evil\\bin\\64bit\\evil.dll",
		 "  Skipped (OBS's own settings file): " + config + "\\global.ini",
		 "  Skipped (not a file name): " + alice + "\\Videos\\NUL",
		 "  Skipped (outside the home folder; restore it with --outside-home): "
		 "C:\\Windows\\System32\\drivers\\etc\\hosts"})
		EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
}

} // namespace
} // namespace kestrel
