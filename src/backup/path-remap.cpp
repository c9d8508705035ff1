#include "backup/path-remap.h"

#include "backup/file-bytes.h"
#include "backup/run-steps.h"
#include "module/log.h"
#include "providers/atomic-file.h"
#include "providers/utf8-path.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

namespace kestrel {

namespace {

constexpr bool kPosixPaths = std::filesystem::path::preferred_separator == '/';

struct UserSegment {
	size_t position = std::string::npos;
	size_t length = 0;
};

// The earliest segment of any kind: /home/alice/Work/users/team/x belongs to alice.
UserSegment findUserSegment(const std::string &path)
{
	const std::string lower = asciiLowerCase(path);
	UserSegment earliest;
	for (std::string_view segment : {"\\users\\", "/users/", kPosixPaths ? "/home/" : ""}) {
		if (segment.empty())
			continue;
		if (size_t at = lower.find(segment); at < earliest.position)
			earliest = {at, segment.size()};
	}
	return earliest;
}

// The separator that ends the user name, or npos.
size_t nameEnd(const std::string &path, const UserSegment &segment)
{
	return path.find_first_of("/\\", segment.position + segment.length);
}

std::string replaceAll(std::string text, char from, const std::string &to)
{
	std::string out;
	for (char c : text) {
		if (c == from)
			out += to;
		else
			out += c;
	}
	return out;
}

// A home prefix only matches a whole path segment: C:\Users\Al must not match in C:\Users\Alice.
bool endsAtBoundary(const std::string &text, size_t end)
{
	if (end >= text.size())
		return true;
	const char next = text[end];
	return next == '\\' || next == '/' || next == '"' || next == '\'' || next == '\r' || next == '\n';
}

int replaceAtBoundaries(std::string &text, const std::string &from, const std::string &to)
{
	int count = 0;
	for (size_t at = text.find(from); at != std::string::npos;) {
		if (endsAtBoundary(text, at + from.size())) {
			text.replace(at, from.size(), to);
			++count;
			at = text.find(from, at + to.size());
		} else {
			at = text.find(from, at + 1);
		}
	}
	return count;
}

} // namespace

std::string userHomePrefix(const std::string &path)
{
	const UserSegment segment = findUserSegment(path);
	if (segment.position == std::string::npos || segment.position + segment.length >= path.size())
		return {};
	const size_t end = nameEnd(path, segment);
	return end == std::string::npos ? std::string() : path.substr(0, end);
}

std::string findSourceHome(const BackupManifest &manifest)
{
	for (const auto *list : {&manifest.sceneCollections, &manifest.profiles})
		for (const auto &entry : *list)
			if (std::string home = userHomePrefix(entry.originalLocal); !home.empty())
				return home;
	return {};
}

std::string remapUserPath(const std::string &path, const std::string &newHome)
{
	if (path.empty() || newHome.empty())
		return path;
	const UserSegment segment = findUserSegment(path);
	if (segment.position == std::string::npos)
		return path;
	const size_t end = nameEnd(path, segment);
	return end == std::string::npos ? newHome : newHome + path.substr(end);
}

int rewriteEmbeddedPaths(const std::string &file, const std::string &oldHome, const std::string &newHome,
			 const RunLog &log)
{
	if (oldHome.empty() || newHome.empty())
		return 0;
	auto text = readFileBytes(file);
	if (!text)
		return 0;
	const std::pair<std::string, std::string> spellings[] = {
	    {replaceAll(oldHome, '\\', "\\\\"), replaceAll(newHome, '\\', "\\\\")},
	    {replaceAll(oldHome, '\\', "/"), replaceAll(newHome, '\\', "/")},
	    {oldHome, newHome}};
	int count = 0;
	for (size_t i = 0; i < std::size(spellings); ++i) {
		// Homes without backslashes spell alike three times; each path counts once.
		if (std::find(spellings, spellings + i, spellings[i]) != spellings + i)
			continue;
		count += replaceAtBoundaries(*text, spellings[i].first, spellings[i].second);
	}
	if (count == 0)
		return 0;
	const std::string name = utf8FromPath(pathFromUtf8(file).filename());
	if (std::string error = writeFileAtomically(pathFromUtf8(file), *text); !error.empty()) {
		if (log)
			log("  Could not remap paths inside " + name + ": " + error);
		KESTREL_LOG(LOG_WARNING, "  could not rewrite embedded paths in %s: %s", file.c_str(),
			    error.c_str());
		return 0;
	}
	if (log)
		log("  Remapped " + std::to_string(count) + " path(s) inside " + name);
	KESTREL_LOG(LOG_INFO, "  rewrote %d embedded path(s) in %s", count, file.c_str());
	return count;
}

} // namespace kestrel
