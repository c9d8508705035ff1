#include "providers/http-transport.h"

#include "providers/cloud-credentials.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace kestrel {

namespace {

struct CurlDeleter {
	void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
	void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, CurlDeleter>;

enum class Method { Get, Post, Patch, Put, Delete };

size_t appendToText(char *data, size_t size, size_t count, void *text)
{
	static_cast<std::string *>(text)->append(data, size * count);
	return size * count;
}

// Keeps the header lines of the last answer only: a redirect or "100 Continue" starts over.
size_t collectHeader(char *data, size_t size, size_t count, void *target)
{
	auto &headers = *static_cast<std::vector<std::pair<std::string, std::string>> *>(target);
	std::string line(data, size * count);
	while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
		line.pop_back();
	if (line.rfind("HTTP/", 0) == 0) {
		headers.clear();
	} else if (const size_t colon = line.find(':'); colon != std::string::npos) {
		const size_t value = line.find_first_not_of(" \t", colon + 1);
		headers.emplace_back(line.substr(0, colon),
				     value == std::string::npos ? std::string() : line.substr(value));
	}
	return size * count;
}

struct StreamSource {
	std::istream &stream;
	uint64_t remaining;
};

size_t readFromStream(char *buffer, size_t size, size_t count, void *source)
{
	auto &upload = *static_cast<StreamSource *>(source);
	const auto wanted = static_cast<std::streamsize>(std::min<uint64_t>(size * count, upload.remaining));
	if (wanted == 0)
		return 0;
	upload.stream.read(buffer, wanted);
	const auto got = static_cast<size_t>(upload.stream.gcount());
	// A source shorter than announced is not sent as if it were whole.
	if (got == 0)
		return CURL_READFUNC_ABORT;
	upload.remaining -= got;
	return got;
}

struct DownloadTarget {
	CURL *handle;
	std::ostream &file;
	uint64_t offset;
	DownloadResult &result;
	bool started = false;
	bool content = false;
};

size_t writeDownload(char *data, size_t size, size_t count, void *target)
{
	auto &to = *static_cast<DownloadTarget *>(target);
	const size_t bytes = size * count;
	if (!to.started) {
		to.started = true;
		long status = 0;
		curl_easy_getinfo(to.handle, CURLINFO_RESPONSE_CODE, &status);
		to.content = status == 200 || (status == 206 && to.offset > 0);
		// Everything again from the start: the file starts over.
		if (status == 200)
			to.offset = 0;
		to.result.written = to.offset;
		if (to.content)
			to.file.seekp(static_cast<std::streamoff>(to.offset));
	}
	if (!to.content) {
		// An error page stays out of the file; a bounded part of it tells the user why.
		if (to.result.errorBody.size() < 64 * 1024)
			to.result.errorBody.append(data, std::min<size_t>(bytes, 64 * 1024));
		return bytes;
	}
	to.file.write(data, static_cast<std::streamsize>(bytes));
	// A short count makes libcurl stop with a write error: a full disk is not a good copy.
	if (!to.file)
		return 0;
	to.result.written += bytes;
	return bytes;
}

struct UploadSource {
	const std::string &body;
	size_t offset = 0;
};

size_t readFromBody(char *buffer, size_t size, size_t count, void *source)
{
	auto &upload = *static_cast<UploadSource *>(source);
	const size_t length = std::min(size * count, upload.body.size() - upload.offset);
	std::copy_n(upload.body.data() + upload.offset, length, buffer);
	upload.offset += length;
	return length;
}

int reportTransfer(void *progress, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal,
		   curl_off_t upNow)
{
	const auto &report = *static_cast<const TransferProgress *>(progress);
	if (upTotal > 0)
		report(static_cast<uint64_t>(upNow), static_cast<uint64_t>(upTotal));
	else if (downNow > 0)
		report(static_cast<uint64_t>(downNow),
		       static_cast<uint64_t>(std::max<curl_off_t>(downTotal, 0)));
	return 0;
}

// Options every request shares; the caller adds the method's own and the write target.
HeaderList prepare(CURL *handle, const std::string &url, const HttpHeaders &headers, Method method,
		   const HttpLimits &limits, const TransferProgress &progress)
{
	curl_slist *list = nullptr;
	for (const auto &line : headers)
		list = curl_slist_append(list, line.c_str());
	curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
	curl_easy_setopt(handle, CURLOPT_HTTPHEADER, list);
	curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, method == Method::Get ? 1L : 0L);
	curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
	curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
	curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
	curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
	curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
	if (progress) {
		curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
		curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &reportTransfer);
		curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &progress);
	}
	return HeaderList(list);
}

int32_t responseCode(CURL *handle)
{
	long status = 0;
	curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
	return static_cast<int32_t>(status);
}

// Failures before anything was sent: the request may be repeated whatever it does.
bool neverSent(CURLcode code)
{
	return code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY ||
	       code == CURLE_COULDNT_CONNECT;
}

// Runs a prepared transfer that answers into memory.
HttpResponse finish(CURL *handle, HttpResponse &response)
{
	curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &appendToText);
	curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response.body);
	curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &collectHeader);
	curl_easy_setopt(handle, CURLOPT_HEADERDATA, &response.headers);
	// A transfer cut short (a stall, a dropped connection) is no answer, even after a status line.
	const CURLcode code = curl_easy_perform(handle);
	if (code == CURLE_OK)
		response.status = responseCode(handle);
	response.sent = !neverSent(code);
	return response;
}

HttpResponse perform(const std::string &url, const std::string *body, const HttpHeaders &headers,
		     Method method, const HttpLimits &limits, const TransferProgress &progress)
{
	HttpResponse response;
	const CurlHandle handle(curl_easy_init());
	if (!handle)
		return response;
	const HeaderList list = prepare(handle.get(), url, headers, method, limits, progress);
	static const std::string kNoBody;
	UploadSource upload{body ? *body : kNoBody};
	if (method == Method::Post || method == Method::Patch) {
		curl_easy_setopt(handle.get(), CURLOPT_POST, 1L);
		curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDS, body->data());
		curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDSIZE_LARGE,
				 static_cast<curl_off_t>(body->size()));
		if (method == Method::Patch)
			curl_easy_setopt(handle.get(), CURLOPT_CUSTOMREQUEST, "PATCH");
	} else if (method == Method::Put) {
		curl_easy_setopt(handle.get(), CURLOPT_UPLOAD, 1L);
		curl_easy_setopt(handle.get(), CURLOPT_READFUNCTION, &readFromBody);
		curl_easy_setopt(handle.get(), CURLOPT_READDATA, &upload);
		curl_easy_setopt(handle.get(), CURLOPT_INFILESIZE_LARGE,
				 static_cast<curl_off_t>(body->size()));
	} else if (method == Method::Delete) {
		curl_easy_setopt(handle.get(), CURLOPT_CUSTOMREQUEST, "DELETE");
	}
	return finish(handle.get(), response);
}

std::string encodeBytes(const std::string &text, bool keepSlash, bool spaceAsPlus)
{
	static const char *const kHex = "0123456789ABCDEF";
	std::string out;
	out.reserve(text.size());
	for (unsigned char byte : text) {
		const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
					(byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
					byte == '_' || byte == '~' || (keepSlash && byte == '/');
		if (unreserved) {
			out += static_cast<char>(byte);
		} else if (spaceAsPlus && byte == ' ') {
			out += '+';
		} else {
			out += '%';
			out += kHex[byte >> 4];
			out += kHex[byte & 0x0F];
		}
	}
	return out;
}

} // namespace

HttpClient::HttpClient(HttpLimits limits) : limits_(limits)
{
	initCurlOnce();
}

HttpResponse HttpClient::get(const std::string &url, const HttpHeaders &headers) const
{
	return perform(url, nullptr, headers, Method::Get, limits_, nullptr);
}

HttpResponse HttpClient::post(const std::string &url, const std::string &body, const HttpHeaders &headers,
			      const TransferProgress &progress) const
{
	return perform(url, &body, headers, Method::Post, limits_, progress);
}

HttpResponse HttpClient::put(const std::string &url, const std::string &body, const HttpHeaders &headers,
			     const TransferProgress &progress) const
{
	return perform(url, &body, headers, Method::Put, limits_, progress);
}

HttpResponse HttpClient::patch(const std::string &url, const std::string &body,
			       const HttpHeaders &headers) const
{
	return perform(url, &body, headers, Method::Patch, limits_, nullptr);
}

HttpResponse HttpClient::putStream(const std::string &url, std::istream &source, uint64_t length,
				   const HttpHeaders &headers, const TransferProgress &progress) const
{
	HttpResponse response;
	const CurlHandle handle(curl_easy_init());
	if (!handle)
		return response;
	const HeaderList list = prepare(handle.get(), url, headers, Method::Put, limits_, progress);
	StreamSource upload{source, length};
	curl_easy_setopt(handle.get(), CURLOPT_UPLOAD, 1L);
	curl_easy_setopt(handle.get(), CURLOPT_READFUNCTION, &readFromStream);
	curl_easy_setopt(handle.get(), CURLOPT_READDATA, &upload);
	curl_easy_setopt(handle.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(length));
	return finish(handle.get(), response);
}

HttpResponse HttpClient::remove(const std::string &url, const HttpHeaders &headers) const
{
	return perform(url, nullptr, headers, Method::Delete, limits_, nullptr);
}

DownloadResult HttpClient::downloadToFile(const std::string &url, const HttpHeaders &headers,
					  std::ostream &file, uint64_t offset,
					  const TransferProgress &progress) const
{
	DownloadResult result;
	result.written = offset;
	const CurlHandle handle(curl_easy_init());
	if (!handle) {
		result.error = "cannot start a transfer";
		return result;
	}
	HttpHeaders lines = headers;
	if (offset > 0)
		lines.push_back("Range: bytes=" + std::to_string(offset) + "-");
	const HeaderList list = prepare(handle.get(), url, lines, Method::Get, limits_, progress);
	DownloadTarget target{handle.get(), file, offset, result};
	std::vector<std::pair<std::string, std::string>> answerHeaders;
	curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &writeDownload);
	curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &target);
	curl_easy_setopt(handle.get(), CURLOPT_HEADERFUNCTION, &collectHeader);
	curl_easy_setopt(handle.get(), CURLOPT_HEADERDATA, &answerHeaders);
	const CURLcode code = curl_easy_perform(handle.get());
	result.status = responseCode(handle.get());
	// An empty body never reaches the write callback: the status alone tells.
	if (!target.started && result.status == 200)
		result.written = 0;
	result.transferred = code == CURLE_OK;
	result.error = curl_easy_strerror(code);
	result.retryAfter = HttpResponse{0, {}, std::move(answerHeaders), true}.header("Retry-After");
	return result;
}

std::string HttpResponse::header(const std::string &name) const
{
	for (const auto &[key, value] : headers)
		if (key.size() == name.size() &&
		    std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
			    return std::tolower(static_cast<unsigned char>(a)) ==
				   std::tolower(static_cast<unsigned char>(b));
		    }))
			return value;
	return {};
}

std::string bearerHeader(const std::string &accessToken)
{
	return "Authorization: Bearer " + accessToken;
}

std::string urlOrigin(const std::string &url)
{
	const size_t scheme = url.find("://");
	if (scheme == std::string::npos)
		return {};
	const size_t end = url.find_first_of("/?#", scheme + 3);
	std::string origin = url.substr(0, end);
	std::transform(origin.begin(), origin.end(), origin.begin(),
		       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
	return origin;
}

std::string percentEncode(const std::string &text)
{
	return encodeBytes(text, false, false);
}

std::string percentEncodePath(const std::string &text)
{
	return encodeBytes(text, true, false);
}

std::string formEncode(const std::vector<std::pair<std::string, std::string>> &fields)
{
	std::string body;
	for (const auto &[name, value] : fields) {
		if (!body.empty())
			body += '&';
		body += name + '=' + encodeBytes(value, false, true);
	}
	return body;
}

} // namespace kestrel
