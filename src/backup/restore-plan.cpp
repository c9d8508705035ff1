#include "backup/restore-plan.h"

#include "backup/active-collection.h"
#include "backup/media-policy.h"
#include "backup/path-remap.h"
#include "backup/run-steps.h"
#include "providers/remote-path.h"
#include "providers/utf8-path.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

constexpr char kSeparator = static_cast<char>(fs::path::preferred_separator);
constexpr char kOtherSeparator = kSeparator == '/' ? '\\' : '/';
constexpr bool kWindowsPaths = kSeparator == '\\';

struct Decision {
	std::string destination;
	std::string refusal;
};

Decision refuse(std::string why)
{
	return {{}, std::move(why)};
}

bool hasControlBytes(const std::string &text)
{
	return std::any_of(text.begin(), text.end(),
			   [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::string comparable(const fs::path &component)
{
	const std::string text = utf8FromPath(component);
	return kWindowsPaths ? asciiLowerCase(text) : text;
}

// A normalised folder without its trailing separator; empty when unknown or relative.
fs::path folderPath(const std::string &folder)
{
	fs::path path = pathFromUtf8(normalisedPath(folder));
	if (path.has_relative_path() && path.filename().empty())
		path = path.parent_path();
	return path;
}

// The components of `path` below `folder`; nothing when it does not lie strictly below it.
std::optional<fs::path> below(const fs::path &path, const fs::path &folder)
{
	if (folder.empty())
		return std::nullopt;
	auto part = path.begin();
	for (const auto &folderPart : folder) {
		if (part == path.end() || comparable(*part) != comparable(folderPart))
			return std::nullopt;
		++part;
	}
	fs::path rest;
	for (; part != path.end(); ++part)
		rest /= *part;
	if (rest.empty())
		return std::nullopt;
	return rest;
}

bool startsHidden(const fs::path &components)
{
	return std::any_of(components.begin(), components.end(), [](const fs::path &part) {
		const std::string name = utf8FromPath(part);
		return !name.empty() && name.front() == '.';
	});
}

// The last component, whichever separator the backed-up system used.
std::string fileNameOf(const std::string &path)
{
	const size_t separator = path.find_last_of("/\\");
	return separator == std::string::npos ? path : path.substr(separator + 1);
}

// On Windows a ":" would make a drive-relative path ("C:x") or name a stream of another file.
bool isPlainFileName(const std::string &name)
{
	return !name.empty() && name != "." && name != ".." && !hasControlBytes(name) &&
	       name.find_first_of(kWindowsPaths ? "/\\:" : "/\\") == std::string::npos;
}

// Joins checked names below a folder; the result must stay below it whatever the system makes
// of the names.
Decision inFolder(const fs::path &folder, const std::vector<std::string> &names)
{
	fs::path destination = folder;
	for (const auto &name : names) {
		if (!isPlainFileName(name))
			return refuse("not a file name");
		destination /= pathFromUtf8(name);
	}
	if (!below(destination, folder))
		return refuse("not a file name");
	return {utf8FromPath(destination), {}};
}

// The components after the last "basic/profiles" pair (any letter case, either separator), so
// that a profile lands below this computer's profiles folder whatever system it came from.
std::vector<std::string> profileTail(const std::string &path)
{
	std::vector<std::string> parts;
	size_t start = 0;
	while (start <= path.size()) {
		size_t end = path.find_first_of("/\\", start);
		if (end == std::string::npos)
			end = path.size();
		const std::string part = path.substr(start, end - start);
		if (part == "..") {
			if (!parts.empty())
				parts.pop_back();
		} else if (!part.empty() && part != ".") {
			parts.push_back(part);
		}
		start = end + 1;
	}
	for (size_t i = parts.size(); i-- > 1;) {
		if (asciiLowerCase(parts[i - 1]) == "basic" && asciiLowerCase(parts[i]) == "profiles")
			return {parts.begin() + static_cast<std::ptrdiff_t>(i) + 1, parts.end()};
	}
	return {};
}

Decision sceneDestination(const BackupEntry &entry, bool first, const RestoreRules &rules)
{
	const fs::path scenes = folderPath(rules.obsPaths.scenesDir);
	if (scenes.empty())
		return refuse("OBS configuration folder unknown");
	const std::string name = first && !rules.collectionName.empty()
				     ? sanitizeCollectionFileName(rules.collectionName) + ".json"
				     : fileNameOf(entry.originalLocal);
	return inFolder(scenes, {name});
}

Decision profileDestination(const BackupEntry &entry, const RestoreRules &rules)
{
	const fs::path profiles = folderPath(rules.obsPaths.profilesDir);
	if (profiles.empty())
		return refuse("OBS configuration folder unknown");
	if (hasControlBytes(entry.originalLocal))
		return refuse("control characters in the path");
	const std::vector<std::string> tail = profileTail(entry.originalLocal);
	if (tail.size() < 2)
		return refuse("not in a profile folder");
	return inFolder(profiles, tail);
}

// The system's own folders and its programs' (the system plug-in folders among them), where
// no restore writes whatever a backup says; empty when the path lies in none of them.
std::string systemFolderOf(const fs::path &destination)
{
	static const std::set<std::string> kPosix = {
	    "Applications", "Library", "System", "bin",  "boot", "dev",  "etc",  "lib", "lib32", "lib64",
	    "libx32",       "private", "proc",   "root", "run",  "sbin", "snap", "sys", "usr",   "var"};
	static const std::set<std::string> kWindows = {"windows", "program files", "program files (x86)",
						       "programdata"};
	const fs::path inside = destination.relative_path();
	if (inside.empty())
		return {};
	const std::string top = comparable(*inside.begin());
	return (kWindowsPaths ? kWindows : kPosix).count(top)
		   ? utf8FromPath(destination.root_path() / *inside.begin())
		   : std::string();
}

// An absolute path of the other system: a drive or network path on POSIX, a rooted one on Windows.
bool isForeignAbsolute(const std::string &path)
{
	if (kWindowsPaths)
		return path.size() > 1 && path[0] == '/' && path[1] != '/';
	const bool drive = path.size() > 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
			   path[1] == ':' && (path[2] == '\\' || path[2] == '/');
	return drive || path.rfind("\\\\", 0) == 0;
}

// Below the new home, in folders named after the drive and the path (D:\Media\a.mp4 ->
// ~/D/Media/a.mp4, \\nas\share\a.mp4 -> ~/nas/share/a.mp4, /mnt/a.mp4 -> ~\mnt\a.mp4).
std::string belowHomeFor(const std::string &foreign, const std::string &newHome)
{
	std::string rest;
	if (kWindowsPaths)
		rest = foreign.substr(1); // the leading slash
	else if (foreign[1] == ':')
		rest = foreign.substr(0, 1) + foreign.substr(2); // the drive's colon
	else
		rest = foreign.substr(2); // a network path's two backslashes
	return newHome + kSeparator + rest;
}

Decision mediaDestination(const BackupEntry &entry, const RestoreRules &rules)
{
	const std::string &original = entry.originalLocal;
	if (hasControlBytes(original))
		return refuse("control characters in the path");
	const bool belowAHome = !userHomePrefix(original).empty();
	if (!belowAHome && !rules.outsideHome)
		return refuse("outside the home folder; restore it with --outside-home");
	const bool intoHome = belowAHome || isForeignAbsolute(original);
	const fs::path home = folderPath(rules.newHome);
	if (intoHome && home.empty())
		return refuse("home folder unknown");
	const std::string placed = belowAHome ? remapUserPath(original, rules.newHome)
				   : intoHome ? belowHomeFor(original, rules.newHome)
					      : original;
	const fs::path destination = pathFromUtf8(normalisedPath(placed));
	if (destination.empty())
		return refuse("not an absolute path");
	if (destination.filename().empty())
		return refuse("not a file name");
	const fs::path config = folderPath(rules.obsPaths.configDir);
	if (const auto inConfig = below(destination, config)) {
		if (std::string reason = obsSettingsRefusal(*inConfig); !reason.empty())
			return refuse(std::move(reason));
	}
	if (intoHome) {
		const auto inHome = below(destination, home);
		if (!inHome)
			return refuse("outside the home folder");
		if (startsHidden(*inHome) && !below(destination, config))
			return refuse("hidden file or folder of the home");
	} else if (startsHidden(destination.relative_path())) {
		return refuse("hidden file or folder");
	} else if (const std::string system = systemFolderOf(destination);
		   !system.empty() && !below(destination, home)) {
		return refuse("inside the system folder " + system);
	}
	return {utf8FromPath(destination), {}};
}

Decision destinationFor(const BackupEntry &entry, EntryKind kind, bool first, const RestoreRules &rules)
{
	if (!isSafeRemotePath(entry.remotePath))
		return refuse("unsafe path");
	switch (kind) {
	case EntryKind::SceneCollection:
		return sceneDestination(entry, first, rules);
	case EntryKind::Profile:
		return profileDestination(entry, rules);
	default:
		return mediaDestination(entry, rules);
	}
}

} // namespace

std::string normalisedPath(const std::string &path)
{
	if (hasControlBytes(path))
		return {};
	std::string text = path;
	std::replace(text.begin(), text.end(), kOtherSeparator, kSeparator);
	const fs::path native = pathFromUtf8(text);
	return native.is_absolute() ? utf8FromPath(native.lexically_normal()) : std::string();
}

std::vector<RestoreStep> restorePlan(const BackupManifest &manifest, const RestoreRules &rules)
{
	std::vector<RestoreStep> plan;
	const std::pair<EntryKind, const std::vector<BackupEntry> *> lists[] = {
	    {EntryKind::SceneCollection, &manifest.sceneCollections},
	    {EntryKind::Profile, &manifest.profiles},
	    {EntryKind::Media, &manifest.mediaFiles}};
	std::set<std::string> destinations;
	for (const auto &[kind, entries] : lists) {
		for (const auto &entry : *entries) {
			const bool first = plan.empty() && kind == EntryKind::SceneCollection;
			const bool outsideHome =
			    kind == EntryKind::Media && userHomePrefix(entry.originalLocal).empty();
			Decision decision = destinationFor(entry, kind, first, rules);
			// A second entry for one place would silently replace the first.
			if (!decision.destination.empty() &&
			    !destinations.insert(comparable(pathFromUtf8(decision.destination))).second)
				decision = refuse("same destination as an earlier entry");
			plan.push_back({&entry, kind, first, outsideHome, std::move(decision.destination),
					std::move(decision.refusal)});
		}
	}
	return plan;
}

std::vector<PathMove> pathMovesOf(const std::vector<RestoreStep> &plan, const std::string &oldHome,
				  const std::string &newHome)
{
	std::vector<PathMove> moves = {{oldHome, newHome}};
	for (const RestoreStep &step : plan)
		if (step.outsideHome && !step.destination.empty() &&
		    step.destination != step.entry->originalLocal)
			moves.push_back({step.entry->originalLocal, step.destination});
	return moves;
}

std::string refusalText(const RestoreStep &step)
{
	return "(" + step.refusal + "): " + refusedPlace(step);
}

std::string refusedPlace(const RestoreStep &step)
{
	// A refused remote path is named as the manifest gives it, a refused place by its path.
	const bool remote = !isSafeRemotePath(step.entry->remotePath);
	return remote ? step.entry->remotePath : step.entry->originalLocal;
}

} // namespace kestrel
