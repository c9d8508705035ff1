#include "backup/auto-backup-state.h"

#include "backup/file-bytes.h"
#include "backup/json-number.h"
#include "providers/atomic-file.h"
#include "providers/utf8-path.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace kestrel {

using nlohmann::json;

namespace {

std::string text(const json &object, const char *key)
{
	const auto it = object.find(key);
	return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool flag(const json &object, const char *key)
{
	const auto it = object.find(key);
	return it != object.end() && it->is_boolean() && it->get<bool>();
}

int32_t count(const json &object, const char *key)
{
	const auto it = object.find(key);
	if (it == object.end() || !it->is_number())
		return 0;
	return static_cast<int32_t>(integerInRange(*it, 0, INT32_MAX).value_or(0));
}

} // namespace

AutoBackupState readAutoBackupState(const std::string &bytes)
{
	AutoBackupState state;
	const json root = json::parse(bytes, nullptr, false);
	if (!root.is_object())
		return state;
	state.lastDailyDate = text(root, "last_daily_date");
	state.exitUnfinished = flag(root, "exit_unfinished");
	if (const auto run = root.find("last_run"); run != root.end() && run->is_object()) {
		AutoBackupOutcome outcome;
		outcome.finishedAt = text(*run, "finished_at");
		outcome.trigger = text(*run, "trigger");
		outcome.ok = flag(*run, "ok");
		outcome.unchanged = flag(*run, "unchanged");
		outcome.copied = count(*run, "copied");
		outcome.skipped = count(*run, "skipped");
		outcome.error = text(*run, "error");
		state.lastRun = outcome;
	}
	return state;
}

std::string autoBackupStateText(const AutoBackupState &state)
{
	json root = {{"last_daily_date", state.lastDailyDate}, {"exit_unfinished", state.exitUnfinished}};
	if (const auto &run = state.lastRun)
		root["last_run"] = {{"finished_at", run->finishedAt},
				    {"trigger", run->trigger},
				    {"ok", run->ok},
				    {"unchanged", run->unchanged},
				    {"copied", run->copied},
				    {"skipped", run->skipped},
				    {"error", run->error}};
	// Reasons quote paths and system messages, which need not be valid UTF-8.
	return root.dump(2, ' ', false, json::error_handler_t::replace);
}

AutoBackupState loadAutoBackupState(const std::string &path)
{
	const auto bytes = readFileBytes(path);
	return bytes ? readAutoBackupState(*bytes) : AutoBackupState{};
}

std::string storeAutoBackupState(const std::string &path, const AutoBackupState &state)
{
	const std::filesystem::path file = pathFromUtf8(path);
	std::error_code ec;
	std::filesystem::create_directories(file.parent_path(), ec);
	return writeFileAtomically(file, withNativeLineEnds(autoBackupStateText(state)), false);
}

} // namespace kestrel
