#include "fake-obs-config.h"

namespace kestrel::test {

namespace fs = std::filesystem;

FakeObsConfig::FakeObsConfig()
{
	fs::create_directories(scenes);
	fs::create_directories(profiles);
	fs::create_directories(tempFolder);
	writeFile(pluginLibrary, "\x7f"
				 "ELF plug-in bytes");
}

void FakeObsConfig::addRealisticSetup()
{
	const std::string h = home.string();
	writeFile(home / "Pictures/logo.png", "PNG logo");
	writeFile(home / "Videos/intro.mp4", std::string(3000, 'm'));
	writeFile(home / ".fonts/Brand Font.ttf", "font");
	writeFile(home / "overlay/index.html", "<html></html>");
	fs::create_directories(home / "slides");
	writeFile(scenes / "Main Show.json", R"({
    "name": "Main Show",
    "current_scene": "Live",
    "sources": [
        {"id": "image_source", "settings": {"file": ")" +
						 h + R"(/Pictures/logo.png"}},
        {"id": "ffmpeg_source", "settings": {"local_file": ")" +
						 h + R"(/Videos/intro.mp4", "looping": true}},
        {"id": "text_ft2_source_v2", "settings": {"font": {"face": "Brand", "path": ")" +
						 h + R"(/.fonts/Brand Font.ttf"}}},
        {"id": "browser_source", "settings": {"local_file": ")" +
						 h + R"(/overlay/index.html", "is_local_file": true}},
        {"id": "ffmpeg_source", "settings": {"local_file": ")" +
						 h + R"(/Videos/deleted.mp4"}},
        {"id": "v4l2_input", "settings": {"device_id": "/dev/null"}},
        {"id": "slideshow", "settings": {"files": [{"value": ")" +
						 h + R"(/slides"}]}},
        {"id": "image_source", "settings": {"file": "relative/logo.png", "url": "file:///x.png"}}
    ],
    ")" + h + R"(/Pictures/logo.png": "a member name is not a reference"
})");
	writeFile(scenes / "Second.json", R"({"name": "Second", "sources": [{"settings": {"file": ")" + h +
					      R"(/Pictures/logo.png"}}]})");
	writeFile(scenes / "broken.json",
		  R"({"name": "Broken", "sources": [{"file": ")" + h + "/Videos/intro.mp4\"");
	writeFile(scenes / "Scene.JSON", R"({"name": "Upper"})");
	fs::create_directories(scenes / "old.json");
	writeFile(profiles / "Main/basic.ini",
		  "[General]\nName=Main\n[SimpleOutput]\nFilePath=" + h + "/Videos\n");
	writeFile(profiles / "Main/service.json", R"({"settings":{"key":"live_123"}})");
	writeFile(profiles / "Main/sub/recordEncoder.json", R"({"bitrate":6000})");
	writeFile(profiles / "Streaming/basic.ini", "[General]\nName=Streaming\n");
	writeFile(profiles / "stray-file.ini", "not a profile");
	writeFile(config / "global.ini", "[Basic]\nProfile=Main\nProfileDir=Main\nSceneCollection=Main "
					 "Show\nSceneCollectionFile=Main Show\n");
}

BackupEnvironment FakeObsConfig::environment() const
{
	BackupEnvironment environment;
	environment.obsPaths = obsPathsIn(config.string());
	environment.obsVersion = "29.0.2";
	environment.pluginLibrary = pluginLibrary.string();
	environment.tempFolder = tempFolder.string();
	environment.homeFolder = home.string();
	return environment;
}

std::unique_ptr<BackupManager> FakeObsConfig::manager() const
{
	auto manager = std::make_unique<BackupManager>(environment());
	manager->localPath = backupFolder.string();
	manager->setProvider(ProviderKind::LocalFolder);
	manager->provider().authenticate();
	return manager;
}

} // namespace kestrel::test
