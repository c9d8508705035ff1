#include "providers/cloud-credentials.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <mutex>

namespace kestrel {

using nlohmann::json;

namespace {

void readString(const json &object, const char *key, std::string &target, bool emptyWhenMissing)
{
	const auto it = object.find(key);
	if (it != object.end() && it->is_string())
		target = it->get<std::string>();
	else if (emptyWhenMissing)
		target.clear();
}

} // namespace

std::string CloudCredentials::serialize(bool withSecret) const
{
	json tokens = {
	    {"access_token", accessToken}, {"client_id", clientId}, {"refresh_token", refreshToken}};
	if (withSecret)
		tokens["client_secret"] = clientSecret;
	return tokens.dump(-1, ' ', false, json::error_handler_t::replace);
}

void CloudCredentials::load(const std::string &text, bool withSecret)
{
	const json tokens = json::parse(text, nullptr, false);
	if (!tokens.is_object())
		return;
	readString(tokens, "access_token", accessToken, true);
	readString(tokens, "refresh_token", refreshToken, true);
	readString(tokens, "client_id", clientId, false);
	if (withSecret)
		readString(tokens, "client_secret", clientSecret, false);
}

void initCurlOnce()
{
	// curl_global_init is not thread-safe and must not be repeated concurrently.
	static std::once_flag once;
	std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

} // namespace kestrel
