#include "backup/obs-paths.h"

#include "fake-obs-config.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::FakeObsConfig;
using test::ScratchFolder;
using test::writeFile;

std::vector<std::string> sorted(std::vector<std::string> list)
{
	std::sort(list.begin(), list.end());
	return list;
}

TEST(ObsPaths, JoinsTheConfigurationFoldersBelowAppData)
{
	const ObsPaths paths = findObsPaths("/home/al/.config");
	EXPECT_EQ(paths.configDir, "/home/al/.config/obs-studio");
	EXPECT_EQ(paths.scenesDir, "/home/al/.config/obs-studio/basic/scenes");
	EXPECT_EQ(paths.profilesDir, "/home/al/.config/obs-studio/basic/profiles");

	const ObsPaths none = findObsPaths("");
	EXPECT_TRUE(none.configDir.empty() && none.scenesDir.empty() && none.profilesDir.empty());
	EXPECT_TRUE(listSceneCollectionFiles(none).empty());
	EXPECT_TRUE(listProfileFolders(none).empty());
	EXPECT_TRUE(collectMediaPaths(none).empty());
}

TEST(ObsPaths, ListsJsonCollectionsAndProfileFolders)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	const ObsPaths paths = obs.environment().obsPaths;
	const std::string scenes = obs.scenes.string() + "/";
	EXPECT_EQ(sorted(listSceneCollectionFiles(paths)),
		  (std::vector<std::string>{scenes + "Main Show.json", scenes + "Second.json",
					    scenes + "broken.json", scenes + "old.json"}));
	EXPECT_EQ(sorted(listProfileFolders(paths)), (std::vector<std::string>{"Main", "Streaming"}));
}

TEST(ObsPaths, MediaAreExistingFilesReferencedByAnyCollection)
{
	FakeObsConfig obs;
	obs.addRealisticSetup();
	const std::string h = obs.home.string();
	const std::set<std::string> expected{h + "/.fonts/Brand Font.ttf", h + "/Pictures/logo.png",
					     h + "/Videos/intro.mp4", h + "/overlay/index.html"};
	EXPECT_EQ(collectMediaPaths(obs.environment().obsPaths), expected);
	EXPECT_TRUE(scanSceneMedia((obs.scenes / "broken.json").string()).empty());
	EXPECT_TRUE(scanSceneMedia((obs.scenes / "missing.json").string()).empty());
	EXPECT_TRUE(scanSceneMedia((obs.scenes / "old.json").string()).empty());

	fs::remove(obs.home / "Videos/intro.mp4");
	EXPECT_EQ(collectMediaPaths(obs.environment().obsPaths).count(h + "/Videos/intro.mp4"), 0u);
}

TEST(ObsPaths, OnlyValuesShapedLikeAbsolutePathsAreCandidates)
{
	ScratchFolder scratch;
	const std::string file = (scratch / "a.png").string();
	writeFile(scratch / "a.png", "x");
	const std::string spelledTwice = scratch.root().string() + "//a.png";
	writeFile(scratch / "scene.json",
		  R"({")" + file + R"(": 1, "list": ["D:", "D:x", "", ")" + spelledTwice +
		      R"(", null, 5, true], "nested": {"deeper": [[")" + file + R"("]]}})");
	EXPECT_EQ(scanSceneMedia((scratch / "scene.json").string()),
		  (std::set<std::string>{file, spelledTwice}));
}

TEST(ObsPaths, DeeplyNestedCollectionDoesNotExhaustTheStack)
{
	ScratchFolder scratch;
	writeFile(scratch / "a.png", "x");
	const std::string deep =
	    std::string(200000, '[') + "\"" + (scratch / "a.png").string() + "\"" + std::string(200000, ']');
	writeFile(scratch / "deep.json", deep);
	EXPECT_EQ(scanSceneMedia((scratch / "deep.json").string()).size(), 1u);
}

} // namespace
} // namespace kestrel
