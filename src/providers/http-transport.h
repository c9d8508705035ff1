#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

struct HttpResponse {
	int32_t status = 0; // 0 when no answer arrived
	std::string body;
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
	std::string error; // the library's text for the transfer's outcome
};

// Blocking HTTP(S) requests over libcurl, one fresh transfer each. Redirects are followed for
// GET only; a failed connection gives status 0 and never throws.
class HttpClient {
public:
	explicit HttpClient(HttpLimits limits = {});

	HttpResponse get(const std::string &url, const HttpHeaders &headers) const;
	HttpResponse post(const std::string &url, const std::string &body, const HttpHeaders &headers,
			  const TransferProgress &progress = nullptr) const;
	HttpResponse put(const std::string &url, const std::string &body, const HttpHeaders &headers,
			 const TransferProgress &progress = nullptr) const;
	HttpResponse remove(const std::string &url, const HttpHeaders &headers) const;
	// GET whose body goes straight into `file`; a failed write ends the transfer.
	DownloadResult downloadToFile(const std::string &url, const HttpHeaders &headers, std::ostream &file,
				      const TransferProgress &progress = nullptr) const;

private:
	HttpLimits limits_;
};

std::string bearerHeader(const std::string &accessToken);

// Every byte but ASCII letters, digits and "-._~" as "%XX" (upper-case hex).
std::string percentEncode(const std::string &text);
// The same, keeping "/" so a path stays a path.
std::string percentEncodePath(const std::string &text);
// An application/x-www-form-urlencoded body: "name=value" pairs joined by "&", each value
// percent-encoded with spaces as "+".
std::string formEncode(const std::vector<std::pair<std::string, std::string>> &fields);

} // namespace kestrel
