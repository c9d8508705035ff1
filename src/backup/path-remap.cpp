#include "backup/path-remap.h"

#include "backup/file-bytes.h"
#include "backup/run-steps.h"
#include "module/log.h"
#include "providers/atomic-file.h"
#include "providers/utf8-path.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>

namespace kestrel {

namespace {

constexpr bool kPosixPaths = std::filesystem::path::preferred_separator == '/';

struct UserSegment {
	size_t position = std::string::npos;
	size_t length = 0;
};

// The earliest segment of any kind: /home/alice/Work/users/team/x belongs to alice. On Windows
// only a POSIX path (one that starts with /home/) has a /home/ segment.
UserSegment findUserSegment(const std::string &path)
{
	const std::string lower = asciiLowerCase(path);
	UserSegment earliest;
	for (std::string_view segment : {"\\users\\", "/users/", "/home/"}) {
		size_t at = lower.find(segment);
		if (segment == "/home/" && !kPosixPaths && at != 0)
			at = std::string::npos;
		if (at < earliest.position)
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

// A match only counts where a whole path segment ends: C:\Users\Al must not match in
// C:\Users\Alice.
bool endsAtBoundary(const std::string &text, size_t end)
{
	if (end >= text.size())
		return true;
	const char next = text[end];
	return next == '\\' || next == '/' || next == '"' || next == '\'' || next == '\r' || next == '\n';
}

bool isWindowsPath(const std::string &path)
{
	const bool drive =
	    path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
	return drive || path.find('\\') != std::string::npos;
}

// How the text around a match writes a backslash: doubled inside a JSON string, or as it is.
enum class Form { Escaped, Plain };

// One way a moved path is written, what it becomes, and the separator the rest of the path
// after it takes (empty: left as it is).
struct Spelling {
	std::string from;
	std::string to;
	Form form;
	std::string separator;
};

std::vector<Spelling> spellingsOf(const PathMove &move, Form fileForm)
{
	const bool toWindows = isWindowsPath(move.to);
	const bool acrossSystems = isWindowsPath(move.from) != toWindows;
	auto separator = [&](Form form) -> std::string {
		if (!acrossSystems)
			return {};
		return toWindows ? (form == Form::Escaped ? "\\\\" : "\\") : "/";
	};
	auto spelling = [&](std::string from, std::string to, Form form) {
		return Spelling{std::move(from), std::move(to), form, separator(form)};
	};
	// A path without backslashes is spelled one way; the file tells how its new one is written.
	if (move.from.find('\\') == std::string::npos)
		return {spelling(move.from,
				 fileForm == Form::Escaped ? replaceAll(move.to, '\\', "\\\\") : move.to,
				 fileForm)};
	return {
	    spelling(replaceAll(move.from, '\\', "\\\\"), replaceAll(move.to, '\\', "\\\\"), Form::Escaped),
	    spelling(replaceAll(move.from, '\\', "/"), replaceAll(move.to, '\\', "/"), fileForm),
	    spelling(move.from, move.to, Form::Plain)};
}

// Gives the rest of the path that goes on at `at` the new separators; returns where it ends (a
// quote or a line end). Other escapes inside a JSON string (\" or \u00e9) belong to the name.
size_t convertRest(std::string &text, size_t at, Form form, const std::string &separator)
{
	while (at < text.size()) {
		const char c = text[at];
		if (c == '"' || static_cast<unsigned char>(c) < 0x20)
			break;
		size_t length = c == '/' || (c == '\\' && form == Form::Plain) ? 1 : 0;
		if (c == '\\' && form == Form::Escaped) {
			if (at + 1 >= text.size() || text[at + 1] != '\\') {
				at += 2;
				continue;
			}
			length = 2;
		}
		if (length == 0) {
			++at;
			continue;
		}
		text.replace(at, length, separator);
		at += separator.size();
	}
	return std::min(at, text.size());
}

int replaceAtBoundaries(std::string &text, const Spelling &spelling)
{
	int count = 0;
	for (size_t at = text.find(spelling.from); at != std::string::npos;) {
		if (endsAtBoundary(text, at + spelling.from.size())) {
			text.replace(at, spelling.from.size(), spelling.to);
			++count;
			at += spelling.to.size();
			if (!spelling.separator.empty())
				at = convertRest(text, at, spelling.form, spelling.separator);
			at = text.find(spelling.from, at);
		} else {
			at = text.find(spelling.from, at + 1);
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

int rewriteEmbeddedPaths(const std::string &file, const std::vector<PathMove> &moves, const RunLog &log)
{
	auto text = readFileBytes(file);
	if (!text)
		return 0;
	const bool json = asciiLowerCase(utf8FromPath(pathFromUtf8(file).extension())) == ".json";
	const int count = rewritePathsInText(*text, moves, json);
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

int rewritePathsInText(std::string &text, const std::vector<PathMove> &moves, bool json)
{
	int count = 0;
	for (const PathMove &move : moves) {
		if (move.from.empty() || move.to.empty())
			continue;
		for (const Spelling &spelling : spellingsOf(move, json ? Form::Escaped : Form::Plain))
			count += replaceAtBoundaries(text, spelling);
	}
	return count;
}

} // namespace kestrel
