#pragma once

#include <string>

namespace kestrel {

// The OAuth client and the saved tokens of a cloud back-end. Tokens carry no expiry: a stale
// access token is found out by the first request, which then refreshes it.
struct CloudCredentials {
	std::string clientId;
	std::string clientSecret; // only Google Drive has one
	std::string accessToken;
	std::string refreshToken;

	// Compact JSON with members in ascending key order; "client_secret" only `withSecret`.
	std::string serialize(bool withSecret) const;
	// Text that is not JSON changes nothing; missing tokens become empty, a missing client id
	// (or secret) keeps its value.
	void load(const std::string &json, bool withSecret);
};

// libcurl's global set-up; must have run before the first request of any back-end.
void initCurlOnce();

} // namespace kestrel
