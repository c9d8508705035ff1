#include "backup/manifest.h"

#include "backup/json-number.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace kestrel {

using nlohmann::json;

namespace {

json entriesToJson(const std::vector<BackupEntry> &entries)
{
	json list = json::array();
	for (const auto &entry : entries) {
		json object = {{"name", entry.name},
			       {"originalLocal", entry.originalLocal},
			       {"remotePath", entry.remotePath},
			       {"size", entry.size}};
		if (!entry.sha256.empty())
			object["sha256"] = entry.sha256;
		if (entry.modified != 0)
			object["modified"] = entry.modified;
		list.push_back(std::move(object));
	}
	return list;
}

// Members of the wrong type throw; the caller stops reading there.
std::string stringMember(const json &object, const char *key)
{
	const auto it = object.find(key);
	return it == object.end() ? std::string() : it->get<std::string>();
}

// A number out of range (or not an integer) reads as missing.
int64_t integerMember(const json &object, const char *key, int64_t min)
{
	const auto it = object.find(key);
	return it == object.end() ? 0 : integerInRange(*it, min, INT64_MAX).value_or(0);
}

void readEntries(const json &manifest, const char *key, std::vector<BackupEntry> &entries)
{
	const auto list = manifest.find(key);
	if (list == manifest.end())
		return;
	if (!list->is_array())
		throw std::invalid_argument(std::string(key) + " is not an array");
	for (const auto &element : *list) {
		if (!element.is_object())
			throw std::invalid_argument("entry is not an object");
		BackupEntry entry;
		entry.name = stringMember(element, "name");
		entry.remotePath = stringMember(element, "remotePath");
		entry.originalLocal = stringMember(element, "originalLocal");
		// A missing or negative size is unknown (-1): older writers left it out.
		entry.size = element.contains("size")
				 ? std::max<int64_t>(-1, integerMember(element, "size", INT64_MIN))
				 : -1;
		entry.sha256 = stringMember(element, "sha256");
		entry.modified = integerMember(element, "modified", INT64_MIN);
		entries.push_back(std::move(entry));
	}
}

} // namespace

std::string manifestToJson(const BackupManifest &manifest)
{
	json object = {{"createdAt", manifest.createdAt},
		       {"mediaFiles", entriesToJson(manifest.mediaFiles)},
		       {"obsVersion", manifest.obsVersion},
		       {"profiles", entriesToJson(manifest.profiles)},
		       {"providerName", manifest.providerName},
		       {"sceneCollections", entriesToJson(manifest.sceneCollections)}};
	if (!manifest.pluginFiles.empty())
		object["pluginFiles"] = entriesToJson(manifest.pluginFiles);
	return object.dump(2, ' ', false, json::error_handler_t::replace);
}

BackupManifest manifestFromJson(const std::string &text)
{
	BackupManifest manifest;
	const json object = json::parse(text, nullptr, false);
	if (!object.is_object())
		return manifest;
	try {
		manifest.createdAt = stringMember(object, "createdAt");
		manifest.obsVersion = stringMember(object, "obsVersion");
		manifest.providerName = stringMember(object, "providerName");
		readEntries(object, "sceneCollections", manifest.sceneCollections);
		readEntries(object, "profiles", manifest.profiles);
		readEntries(object, "mediaFiles", manifest.mediaFiles);
		readEntries(object, "pluginFiles", manifest.pluginFiles);
	} catch (const std::exception &) {
		// A damaged manifest is read as far as it goes.
	}
	return manifest;
}

std::string currentTimestamp()
{
	using namespace std::chrono;
	const auto now = floor<seconds>(system_clock::now());
	const auto day = floor<days>(now);
	const year_month_day date{day};
	const hh_mm_ss time{now - day};
	char text[32];
	std::snprintf(text, sizeof(text), "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
		      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
		      static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
		      static_cast<int>(time.seconds().count()));
	return text;
}

std::optional<std::chrono::sys_seconds> timestampTime(const std::string &timestamp)
{
	using namespace std::chrono;
	int y = 0, h = 0, mi = 0, se = 0;
	unsigned mo = 0, d = 0;
	char zone = 0;
	int end = 0;
	if (std::sscanf(timestamp.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d%c%n", &y, &mo, &d, &h, &mi, &se, &zone,
			&end) != 7 ||
	    zone != 'Z' || static_cast<size_t>(end) != timestamp.size())
		return std::nullopt;
	const year_month_day date{year{y}, month{mo}, day{d}};
	if (!date.ok() || h < 0 || h > 23 || mi < 0 || mi > 59 || se < 0 || se > 60)
		return std::nullopt;
	return sys_days{date} + hours{h} + minutes{mi} + seconds{se};
}

} // namespace kestrel
