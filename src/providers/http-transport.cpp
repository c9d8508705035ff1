#include "providers/http-transport.h"

#include "providers/cloud-credentials.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace kestrel {

namespace {

struct CurlDeleter {
	void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
	void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, CurlDeleter>;

enum class Method { Get, Post, Put, Delete };

size_t appendToText(char *data, size_t size, size_t count, void *text)
{
	static_cast<std::string *>(text)->append(data, size * count);
	return size * count;
}

size_t writeToStream(char *data, size_t size, size_t count, void *stream)
{
	auto &out = *static_cast<std::ostream *>(stream);
	out.write(data, static_cast<std::streamsize>(size * count));
	// A short count makes libcurl stop with a write error: a full disk is not a good copy.
	return out ? size * count : 0;
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
	if (method == Method::Post) {
		curl_easy_setopt(handle.get(), CURLOPT_POST, 1L);
		curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDS, body->data());
		curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDSIZE_LARGE,
				 static_cast<curl_off_t>(body->size()));
	} else if (method == Method::Put) {
		curl_easy_setopt(handle.get(), CURLOPT_UPLOAD, 1L);
		curl_easy_setopt(handle.get(), CURLOPT_READFUNCTION, &readFromBody);
		curl_easy_setopt(handle.get(), CURLOPT_READDATA, &upload);
		curl_easy_setopt(handle.get(), CURLOPT_INFILESIZE_LARGE,
				 static_cast<curl_off_t>(body->size()));
	} else if (method == Method::Delete) {
		curl_easy_setopt(handle.get(), CURLOPT_CUSTOMREQUEST, "DELETE");
	}
	curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &appendToText);
	curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &response.body);
	// A transfer cut short (a stall, a dropped connection) is no answer, even after a status line.
	if (curl_easy_perform(handle.get()) == CURLE_OK)
		response.status = responseCode(handle.get());
	return response;
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

HttpResponse HttpClient::remove(const std::string &url, const HttpHeaders &headers) const
{
	return perform(url, nullptr, headers, Method::Delete, limits_, nullptr);
}

DownloadResult HttpClient::downloadToFile(const std::string &url, const HttpHeaders &headers,
					  std::ostream &file, const TransferProgress &progress) const
{
	DownloadResult result;
	const CurlHandle handle(curl_easy_init());
	if (!handle) {
		result.error = "cannot start a transfer";
		return result;
	}
	const HeaderList list = prepare(handle.get(), url, headers, Method::Get, limits_, progress);
	curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &writeToStream);
	curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, static_cast<std::ostream *>(&file));
	const CURLcode code = curl_easy_perform(handle.get());
	result.transferred = code == CURLE_OK;
	result.status = responseCode(handle.get());
	result.error = curl_easy_strerror(code);
	return result;
}

std::string bearerHeader(const std::string &accessToken)
{
	return "Authorization: Bearer " + accessToken;
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
