#include "synthetic-obs-home.h"

#include "backup/obs-paths.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>

namespace kestrel::bench {

namespace fs = std::filesystem;

// The synthetic configuration lives beside the copies on the same disk, so both the backup and
// cp -r copy within one file system.
fs::path workFolder()
{
	static const fs::path folder = [] {
		const char *base = std::getenv("KESTREL_BENCH_DIR");
		fs::path root =
		    fs::path(base ? base : fs::temp_directory_path().string()) / "kestrel-backup-bench";
		fs::remove_all(root);
		fs::create_directories(root);
		return root;
	}();
	return folder;
}

void writeFile(const fs::path &file, const std::string &bytes)
{
	fs::create_directories(file.parent_path());
	std::ofstream(file, std::ios::binary) << bytes;
}

// 2,000 small JSON/ini files across 20 collections and 20 profiles, plus 20 media files of
// 50 MB that the collections refer to.
const fs::path &syntheticHome()
{
	static const fs::path home = [] {
		const fs::path root = workFolder() / "home/streamer";
		const fs::path config = root / ".config/obs-studio/basic";
		const std::string chunk(1 << 20, 'm');
		nlohmann::json mediaSources = nlohmann::json::array();
		for (int m = 0; m < 20; ++m) {
			const fs::path media = root / "Videos" / ("clip" + std::to_string(m) + ".mp4");
			fs::create_directories(media.parent_path());
			std::ofstream out(media, std::ios::binary);
			for (int mb = 0; mb < 50; ++mb)
				out << chunk;
			mediaSources.push_back(
			    {{"id", "ffmpeg_source"}, {"settings", {{"local_file", media.string()}}}});
		}
		for (int c = 0; c < 20; ++c)
			writeFile(config / "scenes" / ("Collection " + std::to_string(c) + ".json"),
				  nlohmann::json({{"name", "Collection " + std::to_string(c)},
						  {"sources", mediaSources}})
				      .dump(4));
		for (int p = 0; p < 20; ++p)
			for (int f = 0; f < 99; ++f)
				writeFile(config / "profiles" / ("Profile" + std::to_string(p)) /
					      (std::to_string(f) + (f % 2 ? ".ini" : ".json")),
					  std::string(600 + f * 7, 'p'));
		return root;
	}();
	return home;
}

// The synthetic configuration as the engine sees it.
BackupEnvironment syntheticEnvironment()
{
	BackupEnvironment environment;
	environment.obsPaths = obsPathsIn((syntheticHome() / ".config/obs-studio").string());
	environment.tempFolder = (workFolder() / "tmp").string();
	fs::create_directories(environment.tempFolder);
	return environment;
}

} // namespace kestrel::bench
