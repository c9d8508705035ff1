#include "backup/settings-secrets.h"

#include "module/log.h"
#include "providers/authorization-listener.h"

#include <atomic>

namespace kestrel {

using nlohmann::json;

namespace {

const char *const kReference = "secret_ref";

// A member that is there but no text throws, so a damaged file is read only up to the damage.
std::string textMember(const json &object, const char *key)
{
	const auto it = object.find(key);
	return it != object.end() ? it->get<std::string>() : std::string();
}

std::string referenceIn(const json &previous)
{
	const auto it = previous.is_object() ? previous.find("secret_ref") : previous.end();
	return it != previous.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A reference read from a file that may come from anywhere names nothing but a keyring entry.
bool plainReference(const std::string &reference)
{
	return !reference.empty() && reference.size() <= 64 &&
	       reference.find_first_not_of(
		   "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") == std::string::npos;
}

void logOnce(std::atomic<bool> &logged, const std::string &line)
{
	if (!logged.exchange(true))
		KESTREL_LOG(LOG_WARNING, "%s", line.c_str());
}

std::atomic<bool> unreachableLogged{false};
std::atomic<bool> failureLogged{false};

} // namespace

bool SettingsSecrets::keyringReachable()
{
	std::string why = "none on this system";
	if (keyring_ && keyring_->reachable(why))
		return true;
	logOnce(unreachableLogged,
		"No system keyring is reachable (" + why +
		    "): the cloud sign-in stays in the settings file, readable by this user only");
	return false;
}

SignInSecrets SettingsSecrets::read(const json &settings, bool &shouldMove)
{
	SignInSecrets secrets{textMember(settings, "client_secret"), textMember(settings, "tokens")};
	const std::string reference = textMember(settings, kReference);
	const bool inFile = !secrets.clientSecret.empty() || !secrets.tokens.empty();
	shouldMove = false;
	if (!inFile && reference.empty())
		return secrets;
	const bool reachable = keyringReachable();
	shouldMove = inFile && reference.empty() && reachable;
	if (!plainReference(reference) || !reachable)
		return secrets;
	std::string error;
	const auto stored = keyring_->load(reference, error);
	if (!stored) {
		if (!error.empty())
			logOnce(failureLogged,
				"Cannot read the cloud sign-in from the system keyring: " + error);
		return secrets;
	}
	const json kept = json::parse(*stored, nullptr, false);
	if (!kept.is_object())
		return secrets;
	return {textMember(kept, "client_secret"), textMember(kept, "tokens")};
}

json SettingsSecrets::members(const SignInSecrets &secrets, const json &previous)
{
	const json inFile = {{"client_secret", secrets.clientSecret}, {"tokens", secrets.tokens}};
	std::string reference = referenceIn(previous);
	if (!plainReference(reference))
		reference.clear();
	std::string error;
	if (secrets.clientSecret.empty() && secrets.tokens.empty()) {
		// Nothing secret left: nothing stays behind in the keyring either.
		if (!reference.empty() && keyringReachable())
			keyring_->erase(reference, error);
		return inFile;
	}
	if (!keyringReachable())
		return inFile;
	if (reference.empty())
		reference = "kestrel-" + randomState();
	const json kept = {{"client_secret", secrets.clientSecret}, {"tokens", secrets.tokens}};
	if (!keyring_->store(reference, kept.dump(-1, ' ', false, json::error_handler_t::replace), error)) {
		logOnce(failureLogged, "Cannot store the cloud sign-in in the system keyring (" + error +
					   "): it stays in the settings file, readable by this user only");
		return inFile;
	}
	return {{kReference, reference}};
}

} // namespace kestrel
