#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kestrel {

// The port every user registers with the services as part of the redirect URI.
inline constexpr uint16_t kSignInPort = 8765;

// "http://localhost:PORT/callback", sent unencoded in the authorization and token requests.
std::string redirectUri(uint16_t port = kSignInPort);

// How one browser sign-in runs; tests replace the browser and the port.
struct SignInOptions {
	uint16_t port = kSignInPort;
	std::chrono::seconds timeout{120};
	// Opens the authorization URL; the system's browser unless replaced.
	std::function<bool(const std::string &url)> openBrowser;
	// Told the authorization URL before the browser opens (a machine without one can copy it).
	std::function<void(const std::string &url)> showUrl;
	// Progress texts of the wait.
	std::function<void(const std::string &text)> status;
};

struct AuthorizationAnswer {
	std::string code;    // empty on any failure
	std::string refusal; // the service's reason when it refused ("access_denied: ...")
};

// Opens the browser on `authorizationUrl` and serves the redirect on 127.0.0.1 and, where the
// system has IPv6, on [::1] (a browser may resolve "localhost" to either) until a request carries
// a code, or an error, together with `expectedState`, or the time-out passes. When a port is
// taken it returns at once without opening the browser.
AuthorizationAnswer waitForAuthorizationCode(const std::string &authorizationUrl,
					     const std::string &expectedState, const SignInOptions &options);

// The query of an HTTP request's first line ("GET /path?QUERY HTTP/1.1"); empty otherwise.
std::string requestQuery(const std::string &request);
// The decoded value of parameter `name` in a query ("%XX" escapes, "+" as space); empty when
// absent.
std::string queryParameter(const std::string &query, const std::string &name);

// `length` characters drawn from `alphabet`, each straight from the system's random source.
std::string randomText(std::string_view alphabet, size_t length);
// A fresh unguessable text of URL-safe characters for the sign-in's `state`.
std::string randomState();

} // namespace kestrel
