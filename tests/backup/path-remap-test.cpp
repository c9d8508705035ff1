#include "backup/path-remap.h"

#include "support/obs-log-capture.h"
#include "support/scratch-folder.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using test::ObsLogCapture;
using test::readFile;
using test::ScratchFolder;
using test::writeFile;

TEST(PathRemap, MovesPathsBelowAnyProfileFolderToTheNewHome)
{
	const std::string bob = "C:\\Users\\Bob";
	EXPECT_EQ(remapUserPath("C:\\Users\\Alice\\Videos\\a.mp4", bob), "C:\\Users\\Bob\\Videos\\a.mp4");
	EXPECT_EQ(remapUserPath("D:\\USERS\\alice\\x.png", bob), "C:\\Users\\Bob\\x.png");
	EXPECT_EQ(remapUserPath("C:/Users/Alice/x.png", bob), "C:\\Users\\Bob/x.png");
	EXPECT_EQ(remapUserPath("C:\\Users\\Alice", bob), "C:\\Users\\Bob");
	EXPECT_EQ(remapUserPath("D:\\Media\\a.mp4", bob), "D:\\Media\\a.mp4");
	EXPECT_EQ(remapUserPath("", bob), "");
	EXPECT_EQ(remapUserPath("C:\\Users\\Alice\\a.mp4", ""), "C:\\Users\\Alice\\a.mp4");
	EXPECT_EQ(remapUserPath("/home/alice/.config/obs-studio/global.ini", "/home/bob"),
		  "/home/bob/.config/obs-studio/global.ini");
	EXPECT_EQ(remapUserPath("/Users/alice/Movies/m.mov", "/home/bob"), "/home/bob/Movies/m.mov");
	EXPECT_EQ(remapUserPath("/srv/media/a.mp4", "/home/bob"), "/srv/media/a.mp4");
}

TEST(PathRemap, HomePrefixNeedsANameAndASeparatorAfterIt)
{
	EXPECT_EQ(userHomePrefix("C:\\Users\\Alice\\Videos\\a.mp4"), "C:\\Users\\Alice");
	EXPECT_EQ(userHomePrefix("C:\\Users\\Alice"), "");
	EXPECT_EQ(userHomePrefix("C:\\Users\\"), "");
	EXPECT_EQ(userHomePrefix("/home/alice/x"), "/home/alice");
	EXPECT_EQ(userHomePrefix("D:\\Media\\x"), "");
	EXPECT_EQ(remapUserPath("/home/alice/Videos/a.mp4", "C:\\Users\\Bob"), "C:\\Users\\Bob/Videos/a.mp4")
	    << "a POSIX home is one on Windows too";

	BackupManifest manifest;
	manifest.mediaFiles = {{"a", "r", "C:\\Users\\Media\\a.mp4", 1}};
	manifest.profiles = {{"basic.ini", "r", "C:\\Users\\Alice\\AppData\\basic.ini", 1}};
	EXPECT_EQ(findSourceHome(manifest), "C:\\Users\\Alice");
	manifest.sceneCollections = {{"s.json", "r", "E:\\Portable\\s.json", 1},
				     {"t.json", "r", "D:\\users\\carol\\t.json", 1}};
	EXPECT_EQ(findSourceHome(manifest), "D:\\users\\carol");
	manifest.sceneCollections.clear();
	manifest.profiles.clear();
	EXPECT_EQ(findSourceHome(manifest), "") << "media entries are not consulted";
}

TEST(PathRemap, RewritesEscapedSlashedAndPlainSpellings)
{
	ScratchFolder scratch;
	const auto scene = scratch / "scene.json";
	const auto ini = scratch / "basic.ini";
	writeFile(scene, R"({"file": "C:\\Users\\Alice\\Videos\\a.mp4", "other": "c:\\users\\alice\\b.mp4",
"url": "C:/Users/Alice/overlay.html"})");
	writeFile(ini, "[SimpleOutput]\r\nFilePath=C:\\Users\\Alice\r\nOther=C:\\Users\\Alice\\a.mp4\n");
	std::vector<std::string> log;
	ObsLogCapture obsLog;
	auto record = [&](const std::string &line) { log.push_back(line); };
	EXPECT_EQ(rewriteEmbeddedPaths(scene.string(), {{"C:\\Users\\Alice", "C:\\Users\\Bob"}}, record), 2);
	EXPECT_EQ(readFile(scene),
		  R"({"file": "C:\\Users\\Bob\\Videos\\a.mp4", "other": "c:\\users\\alice\\b.mp4",
"url": "C:/Users/Bob/overlay.html"})");
	EXPECT_EQ(rewriteEmbeddedPaths(ini.string(), {{"C:\\Users\\Alice", "C:\\Users\\Bob"}}, record), 2);
	EXPECT_EQ(readFile(ini),
		  "[SimpleOutput]\r\nFilePath=C:\\Users\\Bob\r\nOther=C:\\Users\\Bob\\a.mp4\n");
	EXPECT_EQ(log, (std::vector<std::string>{"  Remapped 2 path(s) inside scene.json",
						 "  Remapped 2 path(s) inside basic.ini"}));
	EXPECT_TRUE(obsLog.contains(LOG_INFO, "[Kestrel]   rewrote 2 embedded path(s) in " + ini.string()));
}

TEST(PathRemap, AcrossSystemsTheRestOfEachPathTakesTheNewSeparators)
{
	ScratchFolder scratch;
	const auto scene = scratch / "scene.json";
	const auto ini = scratch / "basic.ini";
	// Windows to POSIX: the home, and a file from another drive put below the new home.
	const std::vector<PathMove> toPosix = {{"C:\\Users\\Alice", "/home/bob"},
					       {"D:\\Media\\b.mp4", "/home/bob/D/Media/b.mp4"}};
	writeFile(scene,
		  R"({"file": "C:\\Users\\Alice\\Videos\\a.mp4", "url": "C:/Users/Alice/overlay/index.html",
"quoted": "C:\\Users\\Alice\\My \"Best\"\\b\u00e9.png", "moved": "D:\\Media\\b.mp4",
"kept": "D:\\Media\\other.mp4"})");
	writeFile(
	    ini,
	    "[SimpleOutput]\r\nFilePath=C:\\Users\\Alice\\Videos\\Rec files\r\nOther=D:\\Media\\b.mp4\n");
	EXPECT_EQ(rewriteEmbeddedPaths(scene.string(), toPosix, nullptr), 4);
	EXPECT_EQ(readFile(scene),
		  R"({"file": "/home/bob/Videos/a.mp4", "url": "/home/bob/overlay/index.html",
"quoted": "/home/bob/My \"Best\"/b\u00e9.png", "moved": "/home/bob/D/Media/b.mp4",
"kept": "D:\\Media\\other.mp4"})");
	EXPECT_EQ(rewriteEmbeddedPaths(ini.string(), toPosix, nullptr), 2);
	EXPECT_EQ(readFile(ini),
		  "[SimpleOutput]\r\nFilePath=/home/bob/Videos/Rec files\r\nOther=/home/bob/D/Media/b.mp4\n");

	// POSIX to Windows: backslashes escaped inside JSON, single in ini files.
	const std::vector<PathMove> toWindows = {{"/home/alice", "C:\\Users\\Bob"},
						 {"/mnt/media/b.mp4", "C:\\Users\\Bob\\mnt\\media\\b.mp4"}};
	writeFile(
	    scene,
	    R"({"file": "/home/alice/Videos/a.mp4", "moved": "/mnt/media/b.mp4", "kept": "/mnt/media/c.mp4"})");
	writeFile(ini, "[SimpleOutput]\nFilePath=/home/alice/Videos\n");
	EXPECT_EQ(rewriteEmbeddedPaths(scene.string(), toWindows, nullptr), 2);
	EXPECT_EQ(
	    readFile(scene),
	    R"({"file": "C:\\Users\\Bob\\Videos\\a.mp4", "moved": "C:\\Users\\Bob\\mnt\\media\\b.mp4", "kept": "/mnt/media/c.mp4"})");
	EXPECT_EQ(rewriteEmbeddedPaths(ini.string(), toWindows, nullptr), 1);
	EXPECT_EQ(readFile(ini), "[SimpleOutput]\nFilePath=C:\\Users\\Bob\\Videos\n");
}

TEST(PathRemap, OnlyWholeUserNamesAreReplaced)
{
	ScratchFolder scratch;
	const auto scene = scratch / "scene.json";
	const std::string text =
	    R"({"a": "C:\\Users\\Alice\\x.png", "b": "C:\\Users\\Al\\y.png", "c": "C:\\Users\\Al"})";
	writeFile(scene, text);
	EXPECT_EQ(rewriteEmbeddedPaths(scene.string(), {{"C:\\Users\\Al", "C:\\Users\\Bob"}}, nullptr), 2);
	EXPECT_EQ(readFile(scene),
		  R"({"a": "C:\\Users\\Alice\\x.png", "b": "C:\\Users\\Bob\\y.png", "c": "C:\\Users\\Bob"})");

	writeFile(scene, "/home/al/a.png\n/home/alice/b.png\n'/home/al'");
	EXPECT_EQ(rewriteEmbeddedPaths(scene.string(), {{"/home/al", "/home/bo"}}, nullptr), 2);
	EXPECT_EQ(readFile(scene), "/home/bo/a.png\n/home/alice/b.png\n'/home/bo'");
}

TEST(PathRemap, SameHomeRewritesEachPathOnce)
{
	ScratchFolder scratch;
	const auto ini = scratch / "global.ini";
	writeFile(ini, "Path=/home/al/x\n");
	std::vector<std::string> log;
	EXPECT_EQ(rewriteEmbeddedPaths(ini.string(), {{"/home/al", "/home/al"}},
				       [&](const std::string &line) { log.push_back(line); }),
		  1);
	EXPECT_EQ(log, std::vector<std::string>{"  Remapped 1 path(s) inside global.ini"});
	EXPECT_EQ(readFile(ini), "Path=/home/al/x\n");
	writeFile(ini, "Path=C:\\Users\\Al\\x\nJson=C:\\\\Users\\\\Al\\\\y\n");
	EXPECT_EQ(rewriteEmbeddedPaths(ini.string(), {{"C:\\Users\\Al", "C:\\Users\\Al"}}, nullptr), 2);
}

TEST(PathRemap, NothingToDoLeavesTheFileAlone)
{
	ScratchFolder scratch;
	const auto ini = scratch / "basic.ini";
	writeFile(ini, "Path=D:\\Media\n");
	ObsLogCapture obsLog;
	EXPECT_EQ(rewriteEmbeddedPaths(ini.string(), {{"", "C:\\Users\\Bob"}}, nullptr), 0);
	EXPECT_EQ(rewriteEmbeddedPaths(ini.string(), {{"C:\\Users\\Al", ""}}, nullptr), 0);
	EXPECT_EQ(rewriteEmbeddedPaths(ini.string(), {{"C:\\Users\\Al", "C:\\Users\\Bob"}}, nullptr), 0);
	EXPECT_EQ(rewriteEmbeddedPaths((scratch / "missing.ini").string(),
				       {{"C:\\Users\\Al", "C:\\Users\\Bob"}}, nullptr),
		  0);
	EXPECT_TRUE(obsLog.lines().empty());
}

} // namespace
} // namespace kestrel
