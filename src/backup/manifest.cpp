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

[[noreturn]] void damaged(const std::string &where, const std::string &problem)
{
	throw DamagedManifest(where + problem);
}

std::string stringMember(const json &object, const char *key, const std::string &where)
{
	const auto it = object.find(key);
	if (it == object.end())
		return {};
	if (!it->is_string())
		damaged(where, "\"" + std::string(key) + "\" is " + it->type_name() + ", not a string");
	return it->get<std::string>();
}

int64_t integerMember(const json &object, const char *key, const std::string &where)
{
	const auto it = object.find(key);
	if (it == object.end())
		return 0;
	if (!it->is_number())
		damaged(where, "\"" + std::string(key) + "\" is " + it->type_name() + ", not a number");
	const std::optional<int64_t> number = integerInRange(*it, INT64_MIN, INT64_MAX);
	if (!number)
		damaged(where,
			"\"" + std::string(key) + "\" is " + it->dump() + ", not a whole number in range");
	return *number;
}

void readEntries(const json &manifest, const char *key, std::vector<BackupEntry> &entries)
{
	const auto list = manifest.find(key);
	if (list == manifest.end())
		return;
	if (!list->is_array())
		damaged("", "\"" + std::string(key) + "\" is " + list->type_name() + ", not an array");
	for (const auto &element : *list) {
		const std::string where =
		    "\"" + std::string(key) + "\" entry " + std::to_string(entries.size() + 1) + ": ";
		if (!element.is_object())
			damaged(where, std::string(element.type_name()) + ", not an object");
		BackupEntry entry;
		entry.name = stringMember(element, "name", where);
		entry.remotePath = stringMember(element, "remotePath", where);
		entry.originalLocal = stringMember(element, "originalLocal", where);
		// A missing or negative size is unknown (-1): older writers left it out.
		entry.size = element.contains("size")
				 ? std::max<int64_t>(integerMember(element, "size", where), -1)
				 : -1;
		entry.sha256 = stringMember(element, "sha256", where);
		entry.modified = integerMember(element, "modified", where);
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
	json object;
	try {
		object = json::parse(text);
	} catch (const json::exception &e) {
		// Without the library's "[json.exception...] " tag.
		const std::string what = e.what();
		const size_t tag = what.find("] ");
		damaged("not valid JSON: ", tag == std::string::npos ? what : what.substr(tag + 2));
	}
	if (!object.is_object())
		damaged("", std::string("the manifest is ") + object.type_name() + ", not an object");
	BackupManifest manifest;
	manifest.createdAt = stringMember(object, "createdAt", "");
	manifest.obsVersion = stringMember(object, "obsVersion", "");
	manifest.providerName = stringMember(object, "providerName", "");
	readEntries(object, "sceneCollections", manifest.sceneCollections);
	readEntries(object, "profiles", manifest.profiles);
	readEntries(object, "mediaFiles", manifest.mediaFiles);
	readEntries(object, "pluginFiles", manifest.pluginFiles);
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
