#include "backup/active-collection.h"

#include "support/obs-log-capture.h"
#include "support/scratch-folder.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using test::ObsLogCapture;
using test::readFile;
using test::ScratchFolder;
using test::writeFile;

TEST(ActiveCollection, FileNamesReplaceForbiddenBytes)
{
	EXPECT_EQ(sanitizeCollectionFileName("My Show"), "My_Show");
	EXPECT_EQ(sanitizeCollectionFileName("???"), "___");
	EXPECT_EQ(sanitizeCollectionFileName(""), "Untitled");
	EXPECT_EQ(sanitizeCollectionFileName("a\"*/:<>?\\|b"), "a_________b");
	EXPECT_EQ(sanitizeCollectionFileName("Escena\tdel d\u00eda"), "Escena_del_d\u00eda")
	    << "control bytes would reach the ini file";
}

TEST(ActiveCollection, NameIsReadAndSetKeepingTheRest)
{
	ScratchFolder scratch;
	const auto scene = scratch / "s.json";
	writeFile(scene, R"({"sources": [], "name": "Old", "current_scene": "Live"})");
	EXPECT_EQ(readCollectionName(scene.string()), "Old");
	std::vector<std::string> log;
	setCollectionName(scene.string(), "Show \u00e9",
			  [&](const std::string &line) { log.push_back(line); });
	EXPECT_EQ(readFile(scene),
		  "{\"sources\": [], \"name\": \"Show \u00e9\", \"current_scene\": \"Live\"}");
	EXPECT_EQ(log, std::vector<std::string>{"  Renamed collection to \"Show \u00e9\""});

	writeFile(scene, R"({"name": 5})");
	EXPECT_EQ(readCollectionName(scene.string()), "");
	EXPECT_EQ(readCollectionName((scratch / "missing.json").string()), "");

	writeFile(scene, "{broken");
	ObsLogCapture obsLog;
	setCollectionName(scene.string(), "X", nullptr);
	EXPECT_EQ(readFile(scene), "{broken");
	ASSERT_EQ(obsLog.lines().size(), 1u);
	EXPECT_EQ(obsLog.lines()[0].level, LOG_WARNING);
	EXPECT_EQ(obsLog.lines()[0].text.rfind("[Kestrel] could not set collection name: ", 0), 0u);
}

TEST(ActiveCollection, IniValueReplacesOnlyAWholeKeyAtALineStart)
{
	ScratchFolder scratch;
	const auto ini = scratch / "global.ini";
	writeFile(ini, "[Basic]\r\nSceneCollectionFile=Old.json\r\nSceneCollection=Old\r\nProfile=Main\r\n");
	EXPECT_TRUE(replaceIniValue(ini.string(), "SceneCollection", "My Show"));
	EXPECT_EQ(readFile(ini),
		  "[Basic]\r\nSceneCollectionFile=Old.json\r\nSceneCollection=My Show\nProfile=Main\r\n");
	EXPECT_TRUE(replaceIniValue(ini.string(), "Profile", "New"));
	EXPECT_EQ(readFile(ini),
		  "[Basic]\r\nSceneCollectionFile=Old.json\r\nSceneCollection=My Show\nProfile=New\n");

	writeFile(ini, "[Basic]\n  SceneCollection=Indented\nsceneCollection=lower\n");
	EXPECT_FALSE(replaceIniValue(ini.string(), "SceneCollection", "X"));
	EXPECT_EQ(readFile(ini), "[Basic]\n  SceneCollection=Indented\nsceneCollection=lower\n");
	EXPECT_FALSE(replaceIniValue((scratch / "missing.ini").string(), "SceneCollection", "X"));
	EXPECT_FALSE(std::filesystem::exists(scratch / "missing.ini"));
}

TEST(ActiveCollection, ActivationWritesWhereTheKeysAreAsThatOBSReadsThem)
{
	ScratchFolder scratch;
	// OBS 31 and later: the keys in user.ini, the file name with its extension.
	writeFile(scratch / "user.ini", "[Basic]\nSceneCollection=Old\nSceneCollectionFile=Old.json\n");
	writeFile(scratch / "global.ini", "[General]\nFirstRun=true\n");
	std::vector<std::string> log;
	ObsLogCapture obsLog;
	activateCollection(scratch.root().string(), "My Show", "My_Show",
			   [&](const std::string &line) { log.push_back(line); });
	EXPECT_EQ(readFile(scratch / "user.ini"),
		  "[Basic]\nSceneCollection=My Show\nSceneCollectionFile=My_Show.json\n");
	EXPECT_EQ(readFile(scratch / "global.ini"), "[General]\nFirstRun=true\n");
	EXPECT_EQ(log, std::vector<std::string>{"  Active collection set to \"My Show\""});
	EXPECT_TRUE(obsLog.contains(LOG_INFO, "[Kestrel]   activated 'My Show' (My_Show.json) in user.ini"));
	EXPECT_EQ(obsLog.lines().size(), 1u);

	// OBS 30 and older: the keys in global.ini, the bare stem.
	std::filesystem::remove(scratch / "user.ini");
	writeFile(scratch / "global.ini", "[Basic]\nSceneCollection=Old\nSceneCollectionFile=Old\n");
	activateCollection(scratch.root().string(), "My Show", "My_Show", nullptr);
	EXPECT_EQ(readFile(scratch / "global.ini"),
		  "[Basic]\nSceneCollection=My Show\nSceneCollectionFile=My_Show\n");
	EXPECT_FALSE(std::filesystem::exists(scratch / "user.ini"));
	EXPECT_TRUE(obsLog.contains(LOG_INFO, "[Kestrel]   activated 'My Show' (My_Show) in global.ini"));
	activateCollection("", "X", "X", nullptr);
}

} // namespace
} // namespace kestrel
