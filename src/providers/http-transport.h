#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

struct HttpResponse {
	int32_t status = 0; // 0 when no answer arrived
	std::string body;
	// The final answer's header lines as (name, value); names as the service wrote them.
	std::vector<std::pair<std::string, std::string>> headers;
	// False when the request never left (no connection could be made): nothing reached the service.
	bool sent = true;

	// The first header of that name (case-insensitive), empty when absent.
	std::string header(const std::string &name) const;
};

// Complete header lines ("Name: value"), sent in this order.
using HttpHeaders = std::vector<std::string>;

// (bytes moved so far, bytes expected or 0 when unknown) while a body goes up or comes down.
using TransferProgress = std::function<void(uint64_t done, uint64_t total)>;

// A stalled network must end a request with an error instead of hanging the run.
struct HttpLimits {
	long connectTimeoutSeconds = 30;
	long stallSeconds = 60; // with less than one byte per second moving
};

struct DownloadResult {
	bool transferred = false; // the whole body arrived and was written
	int32_t status = 0;
	std::string error;      // the library's text for the transfer's outcome
	std::string errorBody;  // the service's answer when it was not content (kept out of the file)
	uint64_t written = 0;   // the file's good bytes from its start, for a resume
	std::string retryAfter; // the answer's Retry-After, when it had one
};

// Blocking HTTP(S) requests over libcurl, one fresh transfer each. Redirects are followed for
// GET only; a failed connection gives status 0 and never throws.
class HttpClient {
public:
	explicit HttpClient(HttpLimits limits = {});

	HttpResponse get(const std::string &url, const HttpHeaders &headers) const;
	HttpResponse post(const std::string &url, const std::string &body, const HttpHeaders &headers,
			  const TransferProgress &progress = nullptr) const;
	HttpResponse patch(const std::string &url, const std::string &body, const HttpHeaders &headers) const;
	HttpResponse put(const std::string &url, const std::string &body, const HttpHeaders &headers,
			 const TransferProgress &progress = nullptr) const;
	// PUT of the next `length` bytes of `source`, read as they go out: memory stays small
	// whatever the length. A source that ends early aborts the request (status 0).
	HttpResponse putStream(const std::string &url, std::istream &source, uint64_t length,
			       const HttpHeaders &headers, const TransferProgress &progress = nullptr) const;
	HttpResponse remove(const std::string &url, const HttpHeaders &headers) const;
	// GET whose content goes straight into `file`; a failed write ends the transfer. With
	// `offset` > 0 it asks for the rest from there (the file already holds the bytes before it)
	// and starts the file over when the service sends everything instead. An answer that is not
	// content never reaches the file.
	DownloadResult downloadToFile(const std::string &url, const HttpHeaders &headers, std::ostream &file,
				      uint64_t offset = 0, const TransferProgress &progress = nullptr) const;

private:
	HttpLimits limits_;
};

std::string bearerHeader(const std::string &accessToken);

// "scheme://host[:port]" of a URL, lower-cased; empty when it has no scheme.
std::string urlOrigin(const std::string &url);

// Every byte but ASCII letters, digits and "-._~" as "%XX" (upper-case hex).
std::string percentEncode(const std::string &text);
// The same, keeping "/" so a path stays a path.
std::string percentEncodePath(const std::string &text);
// An application/x-www-form-urlencoded body: "name=value" pairs joined by "&", each value
// percent-encoded with spaces as "+".
std::string formEncode(const std::vector<std::pair<std::string, std::string>> &fields);

} // namespace kestrel
