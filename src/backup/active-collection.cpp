#include "backup/active-collection.h"

#include "backup/file-bytes.h"
#include "backup/json-member-text.h"
#include "module/log.h"
#include "providers/atomic-file.h"
#include "providers/utf8-path.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace kestrel {

namespace {

// A line break in a name written to an ini file would start a line, or a whole section, of its own.
bool isControlByte(char c)
{
	return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

std::string withoutControlBytes(std::string text)
{
	std::replace_if(text.begin(), text.end(), isControlByte, '_');
	return text;
}

} // namespace

std::string sanitizeCollectionFileName(const std::string &name)
{
	std::string out = name;
	for (char &c : out) {
		switch (c) {
		case ' ':
		case '"':
		case '*':
		case '/':
		case ':':
		case '<':
		case '>':
		case '?':
		case '\\':
		case '|':
			c = '_';
			break;
		default:
			if (isControlByte(c))
				c = '_';
			break;
		}
	}
	return out.empty() ? "Untitled" : out;
}

std::string readCollectionName(const std::string &file)
{
	const auto text = readFileBytes(file);
	return text ? topLevelString(*text, "name").value_or(std::string()) : std::string();
}

void setCollectionName(const std::string &file, const std::string &name, const RunLog &log)
{
	const auto text = readFileBytes(file);
	if (!text)
		return;
	try {
		const auto renamed = withTopLevelString(*text, "name", name);
		if (!renamed)
			throw std::runtime_error("not a JSON object");
		if (std::string error = writeFileAtomically(pathFromUtf8(file), *renamed); !error.empty())
			throw std::runtime_error(error);
	} catch (const std::exception &e) {
		KESTREL_LOG(LOG_WARNING, "could not set collection name: %s", e.what());
		return;
	}
	if (log)
		log("  Renamed collection to \"" + name + "\"");
}

void activateCollection(const std::string &obsConfigDir, const std::string &displayName,
			const std::string &fileStem, const RunLog &log)
{
	if (obsConfigDir.empty())
		return;
	// OBS 31 and later keep these keys in user.ini with the file's extension; OBS 30 and older
	// in global.ini as the bare stem, adding ".json" themselves (a ".json" there opens an empty
	// "NAME.json.json").
	const std::pair<const char *, std::string> files[] = {{"user.ini", fileStem + ".json"},
							      {"global.ini", fileStem}};
	for (const auto &[ini, fileValue] : files) {
		const std::string path = utf8FromPath(pathFromUtf8(obsConfigDir) / ini);
		const bool name = replaceIniValue(path, "SceneCollection", displayName);
		const bool file = replaceIniValue(path, "SceneCollectionFile", fileValue);
		if (!name && !file)
			continue;
		if (log)
			log("  Active collection set to \"" + displayName + "\"");
		KESTREL_LOG(LOG_INFO, "  activated '%s' (%s) in %s", displayName.c_str(), fileValue.c_str(),
			    ini);
	}
}

std::optional<std::string> withIniValue(std::string text, const std::string &key, const std::string &value)
{
	const std::string needle = withoutControlBytes(key) + "=";
	size_t line = 0;
	while (line != std::string::npos && text.compare(line, needle.size(), needle) != 0) {
		line = text.find('\n', line);
		if (line != std::string::npos)
			++line;
	}
	if (line == std::string::npos)
		return std::nullopt;
	size_t end = text.find('\n', line);
	if (end == std::string::npos)
		end = text.size();
	text.replace(line, end - line, needle + withoutControlBytes(value));
	return text;
}

bool replaceIniValue(const std::string &iniFile, const std::string &key, const std::string &value)
{
	const auto text = readFileBytes(iniFile);
	if (!text)
		return false;
	const auto changed = withIniValue(*text, key, value);
	return changed && writeFileAtomically(pathFromUtf8(iniFile), *changed).empty();
}

} // namespace kestrel
