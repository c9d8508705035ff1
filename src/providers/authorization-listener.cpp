#include "providers/authorization-listener.h"

#include "platform/browser.h"
#include "platform/loopback-socket.h"

#include <random>

namespace kestrel {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using platform::LoopbackSocket;

constexpr size_t kMaxRequestBytes = 4095;
constexpr auto kPollInterval = 100ms;
// A browser sends its request at once; a silent connection must not hold up the sign-in.
constexpr auto kRequestWait = 2s;

const char *const kSuccessPage =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Kestrel</title><style>"
    "body{margin:0;min-height:100vh;display:flex;align-items:center;justify-content:center;"
    "background:#f0fdf4;font-family:sans-serif}"
    ".card{background:#fff;border-radius:12px;padding:40px;box-shadow:0 4px 16px rgba(0,0,0,.1);"
    "text-align:center}h2{color:#16a34a}</style></head><body><div class=\"card\">"
    "<h2>&#10003; Authorization successful</h2><p>You can close this tab and return to OBS.</p>"
    "</div></body></html>\r\n";

const char *const kFailurePage =
    "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
    "<!DOCTYPE html><html><body><h2>Authorization failed. Please try again from OBS.</h2></body></html>\r\n";

void report(const SignInOptions &options, const std::string &text)
{
	if (options.status)
		options.status(text);
}

std::chrono::milliseconds remaining(Clock::time_point deadline)
{
	return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()), 0ms);
}

// Reads the request head (a browser sends it in one go) within a short, bounded wait; what
// counts is the first line, and one that did not end in time or in size is no request.
std::string readRequest(LoopbackSocket &connection, Clock::time_point deadline)
{
	const Clock::time_point until = std::min(deadline, Clock::now() + kRequestWait);
	std::string request;
	while (request.size() < kMaxRequestBytes && request.find("\r\n\r\n") == std::string::npos) {
		if (connection.receive(request, kMaxRequestBytes - request.size(), remaining(until)) !=
		    LoopbackSocket::Received::Data)
			break;
	}
	return request.find('\n') == std::string::npos ? std::string() : request;
}

int hexDigit(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

std::string decodeQueryValue(const std::string &raw)
{
	std::string value;
	for (size_t i = 0; i < raw.size(); ++i) {
		const int high = raw[i] == '%' && i + 2 < raw.size() ? hexDigit(raw[i + 1]) : -1;
		const int low = high >= 0 ? hexDigit(raw[i + 2]) : -1;
		if (low >= 0) {
			value += static_cast<char>(high * 16 + low);
			i += 2;
		} else {
			value += raw[i] == '+' ? ' ' : raw[i];
		}
	}
	return value;
}

} // namespace

std::string redirectUri(uint16_t port)
{
	return "http://localhost:" + std::to_string(port) + "/callback";
}

std::string requestQuery(const std::string &request)
{
	if (request.rfind("GET ", 0) != 0)
		return {};
	const size_t question = request.find('?');
	size_t end = request.find_first_of(" \r\n", 4);
	if (end == std::string::npos)
		end = request.size();
	if (question == std::string::npos || question >= end)
		return {};
	return request.substr(question + 1, end - question - 1);
}

std::string queryParameter(const std::string &query, const std::string &name)
{
	// Whole names only: "error_code=" is not "code=".
	size_t start = 0;
	while (start <= query.size()) {
		size_t end = query.find('&', start);
		if (end == std::string::npos)
			end = query.size();
		if (query.compare(start, name.size() + 1, name + "=") == 0)
			return decodeQueryValue(
			    query.substr(start + name.size() + 1, end - start - name.size() - 1));
		start = end + 1;
	}
	return {};
}

std::string randomText(std::string_view alphabet, size_t length)
{
	std::random_device source;
	std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
	std::string text;
	for (size_t i = 0; i < length; ++i)
		text += alphabet[pick(source)];
	return text;
}

std::string randomState()
{
	return randomText("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_", 32);
}

AuthorizationAnswer waitForAuthorizationCode(const std::string &authorizationUrl,
					     const std::string &expectedState, const SignInOptions &options)
{
	LoopbackSocket listener = LoopbackSocket::listen(options.port);
	if (!listener.valid()) {
		report(options, "Cannot bind to port " + std::to_string(options.port));
		return {};
	}
	// Another program on [::1] would otherwise receive the code.
	LoopbackSocket listener6;
	if (LoopbackSocket::hasIPv6()) {
		listener6 = LoopbackSocket::listen(options.port, LoopbackSocket::Family::IPv6);
		if (!listener6.valid()) {
			report(options, "Cannot bind to port " + std::to_string(options.port) + " on [::1]");
			return {};
		}
	}
	if (options.showUrl)
		options.showUrl(authorizationUrl);
	if (options.openBrowser)
		options.openBrowser(authorizationUrl);
	else
		platform::openInBrowser(authorizationUrl);
	report(options, "Waiting for browser authorization\u2026");

	const Clock::time_point deadline = Clock::now() + options.timeout;
	while (Clock::now() < deadline) {
		LoopbackSocket connection = LoopbackSocket::acceptAny(
		    {&listener, &listener6},
		    std::min<std::chrono::milliseconds>(
			kPollInterval, std::max(remaining(deadline), std::chrono::milliseconds(1))));
		if (!connection.valid())
			continue;
		const std::string query = requestQuery(readRequest(connection, deadline));
		// Without the state this sign-in sent, a request may come from another site's page.
		const bool ours = queryParameter(query, "state") == expectedState;
		AuthorizationAnswer answer;
		answer.code = ours ? queryParameter(query, "code") : std::string();
		const std::string error = ours ? queryParameter(query, "error") : std::string();
		if (!error.empty()) {
			const std::string description = queryParameter(query, "error_description");
			answer.refusal = description.empty() ? error : error + ": " + description;
		}
		connection.sendAll(!answer.code.empty() ? kSuccessPage : kFailurePage);
		if (!answer.code.empty()) {
			report(options, "Authorization code received.");
			return answer;
		}
		if (!answer.refusal.empty()) {
			report(options, "Authorization was denied: " + answer.refusal);
			return answer;
		}
	}
	report(options, "Authorization timed out or was denied.");
	return {};
}

} // namespace kestrel
