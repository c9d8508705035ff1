#include "backup/path-remap.h"
#include "backup/restore-plan.h"

#include "fuzz-support.h"

#include <filesystem>

using namespace kestrel;

namespace {

const std::string kHome = "/home/bob";
const ObsPaths kObs = obsPathsIn(kHome + "/.config/obs-studio");

bool below(const std::string &path, const std::string &folder)
{
	return path.size() > folder.size() + 1 && path.compare(0, folder.size() + 1, folder + "/") == 0;
}

bool hasHiddenPart(const std::string &path)
{
	return path.find("/.") != std::string::npos;
}

} // namespace

// Lines of the input are the original paths of a backup's entries, each one a scene, a profile
// file and a media file. Whatever they say, a destination is normalised and stays where the
// rules put it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size == 0)
		return 0;
	const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
	BackupManifest manifest;
	for (size_t start = 0; start <= text.size();) {
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		const std::string path = text.substr(start, end - start);
		userHomePrefix(path);
		for (auto *list : {&manifest.sceneCollections, &manifest.profiles, &manifest.mediaFiles})
			list->push_back({"f", "obs-cloud-backup/x", path, 0});
		start = end + 1;
	}
	// The same text as a restored file's content, rewritten across systems either way.
	const std::vector<PathMove> moves =
	    data[0] & 4 ? std::vector<PathMove>{{"C:\\Users\\Alice", kHome},
						{"D:\\Media\\a.mp4", kHome + "/D/Media/a.mp4"}}
			: std::vector<PathMove>{{"/home/alice", "C:\\Users\\Bob"},
						{"/mnt/a.mp4", "C:\\Users\\Bob\\mnt\\a.mp4"}};
	std::string rewritten = text;
	const int count = rewritePathsInText(rewritten, moves, (data[0] & 8) != 0);
	fuzz::require(count >= 0 && (count > 0 || rewritten == text), "untouched without a match");
	fuzz::require(rewritten.size() <= 16 * text.size() + 64, "bounded growth");

	const RestoreRules rules{kHome, kObs, data[0] & 1 ? "New \n Name" : "", (data[0] & 2) != 0};
	for (const RestoreStep &step : restorePlan(manifest, rules)) {
		fuzz::require(step.destination.empty() != step.refusal.empty(), "a destination or a reason");
		const std::string &to = step.destination;
		if (to.empty())
			continue;
		fuzz::require(normalisedPath(to) == to, "destinations are normalised");
		fuzz::require(to.find_first_of("\r\n") == std::string::npos, "no line breaks");
		switch (step.kind) {
		case EntryKind::SceneCollection:
			fuzz::require(below(to, kObs.scenesDir) &&
					  to.find('/', kObs.scenesDir.size() + 1) == std::string::npos,
				      "scene collections lie directly in the scenes folder");
			break;
		case EntryKind::Profile:
			fuzz::require(below(to, kObs.profilesDir),
				      "profile files lie below the profiles folder");
			break;
		case EntryKind::Media:
			fuzz::require(!below(to, kObs.configDir + "/plugins"),
				      "nothing lands among OBS's plug-ins");
			if (below(to, kHome))
				fuzz::require(!hasHiddenPart(to.substr(kHome.size())) ||
						  below(to, kObs.configDir),
					      "no hidden folder of the home but OBS's");
			else
				fuzz::require(rules.outsideHome &&
						  userHomePrefix(step.entry->originalLocal).empty() &&
						  !hasHiddenPart(to),
					      "outside the home only on request");
			break;
		}
	}
	return 0;
}
