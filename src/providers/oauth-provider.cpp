#include "providers/oauth-provider.h"

#include "platform/pkce-crypto.h"
#include "providers/resumable-upload.h"
#include "providers/run-hold.h"
#include "providers/utf8-path.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace kestrel {

using nlohmann::json;

namespace {

std::string statusHint(int32_t status)
{
	switch (status) {
	case 0:
		return "no answer from the service (is the network down?)";
	case 401:
		return "the sign-in expired or was revoked; sign in again";
	case 403:
		return "permission denied or storage quota exceeded";
	case 404:
		return "not found";
	case 413:
	case 507:
		return "storage quota exceeded";
	case 429:
		return "too many requests; try again later";
	default:
		return {};
	}
}

std::string readString(const json &object, const char *key)
{
	const auto it = object.find(key);
	return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

std::string pkceVerifier()
{
	// Not a generator seeded with one 32-bit value, which would leave only 2^32 verifiers.
	return randomText("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~", 64);
}

std::string pkceChallenge(const std::string &verifier)
{
	std::string challenge = platform::base64Encode(platform::sha256Digest(verifier));
	std::erase(challenge, '=');
	for (char &c : challenge)
		c = c == '+' ? '-' : c == '/' ? '_' : c;
	return challenge;
}

std::string localFileName(const std::string &localPath)
{
	return utf8FromPath(pathFromUtf8(localPath).filename());
}

OAuthProvider::OAuthProvider(bool hasClientSecret, CloudServices services)
    : services_(std::move(services)), http_(services_.http), hasClientSecret_(hasClientSecret)
{
	initCurlOnce();
}

std::shared_ptr<void> OAuthProvider::holdBackup(std::chrono::milliseconds patience)
{
	if (services_.runLockFolder.empty())
		return ICloudProvider::holdBackup(patience);
	std::string fileName = "kestrel-" + name() + ".lock";
	std::replace(fileName.begin(), fileName.end(), ' ', '-');
	return holdRun(utf8FromPath(pathFromUtf8(services_.runLockFolder) / pathFromUtf8(fileName)), name(),
		       patience, lastError_);
}

void OAuthProvider::logout()
{
	credentials_.accessToken.clear();
	credentials_.refreshToken.clear();
}

void OAuthProvider::setClientSecret(const std::string &clientSecret)
{
	if (hasClientSecret_)
		credentials_.clientSecret = clientSecret;
}

std::string OAuthProvider::requestAuthorizationCode(const std::string &authorizationUrl,
						    const std::string &failure)
{
	const std::string state = randomState();
	const AuthorizationAnswer answer =
	    waitForAuthorizationCode(authorizationUrl + "&state=" + state, state, services_.signIn);
	if (answer.code.empty())
		lastError_ = answer.refusal.empty() ? failure : "Sign-in refused: " + answer.refusal;
	return answer.code;
}

bool OAuthProvider::storeTokenAnswer(const HttpResponse &answer)
{
	if (answer.status != 200) {
		// Without an answer there is no service text to show; say what the status means.
		lastError_ = answer.body.empty() ? failureText("Token exchange failed", answer)
						 : "Token exchange failed: " + answer.body;
		return false;
	}
	const json tokens = json::parse(answer.body, nullptr, false);
	if (!tokens.is_object()) {
		lastError_ = "Failed to parse token response.";
		return false;
	}
	credentials_.accessToken = readString(tokens, "access_token");
	credentials_.refreshToken = readString(tokens, "refresh_token");
	if (credentials_.accessToken.empty())
		lastError_ = "The token response holds no access token.";
	return !credentials_.accessToken.empty();
}

HttpResponse OAuthProvider::send(const std::function<HttpResponse()> &request, bool idempotent,
				 bool refreshOn401)
{
	RetrySchedule schedule(services_.retry);
	bool refreshed = !refreshOn401;
	for (int attempt = 1;; ++attempt) {
		HttpResponse answer = request();
		if (answer.status == 401 && !refreshed) {
			refreshed = true;
			if (refreshAccessToken())
				continue;
			return answer;
		}
		if (answer.status != 0)
			unreachable_ = false;
		const bool repeatable = idempotent || !answer.sent || answer.status == 429;
		// No connection at all is more likely a network that is down than a blip: one more try.
		const bool hopeless = answer.status == 0 && (unreachable_ || (!answer.sent && attempt >= 2));
		if (!repeatable || hopeless ||
		    !schedule.waitBeforeRetry(answer.status, answer.header("Retry-After"))) {
			unreachable_ = answer.status == 0;
			return answer;
		}
	}
}

bool OAuthProvider::refreshWith(const std::string &tokenUrl, const std::string &form,
				const HttpHeaders &headers)
{
	// A refresh token may be single-use: the request is repeated only when it surely did not arrive.
	const HttpResponse answer = send([&] { return http_.post(tokenUrl, form, headers); }, false, false);
	if (answer.status != 200)
		return false;
	const json tokens = json::parse(answer.body, nullptr, false);
	if (!tokens.is_object())
		return false;
	credentials_.accessToken = readString(tokens, "access_token");
	if (std::string rotated = readString(tokens, "refresh_token"); !rotated.empty())
		credentials_.refreshToken = std::move(rotated);
	return !credentials_.accessToken.empty();
}

std::string OAuthProvider::failureText(const std::string &what, const HttpResponse &answer) const
{
	std::string text = what + " (" + std::to_string(answer.status) + "): " + answer.body;
	if (const std::string hint = statusHint(answer.status); !hint.empty())
		text += (answer.body.empty() ? "" : " \u2014 ") + name() + ": " + hint;
	return text;
}

std::optional<std::string> OAuthProvider::readUploadSource(const std::string &localPath)
{
	std::error_code ec;
	if (!std::filesystem::exists(pathFromUtf8(localPath), ec)) {
		lastError_ = "Local file not found: " + localPath;
		return std::nullopt;
	}
	std::ifstream in(pathFromUtf8(localPath), std::ios::binary);
	std::string bytes;
	bool read = in && std::filesystem::is_regular_file(pathFromUtf8(localPath), ec);
	try {
		if (read)
			bytes.assign(std::istreambuf_iterator<char>(in), {});
	} catch (const std::ios_base::failure &) {
		read = false;
	}
	if (!read || in.bad()) {
		lastError_ = "Cannot read local file: " + localPath;
		return std::nullopt;
	}
	return bytes;
}

bool OAuthProvider::receiveFile(const std::string &url, const std::function<HttpHeaders()> &headers,
				const std::string &localPath, const ProgressCallback &progress)
{
	const std::filesystem::path target = pathFromUtf8(localPath);
	std::error_code ec;
	if (target.has_parent_path())
		std::filesystem::create_directories(target.parent_path(), ec);
	if (ec) {
		lastError_ = "Cannot create local folder for " + localPath + ": " + ec.message();
		return false;
	}
	std::ofstream file(target, std::ios::binary | std::ios::trunc);
	if (!file) {
		lastError_ = "Cannot create local file: " + localPath;
		return false;
	}
	const std::string name = localFileName(localPath);
	const TransferProgress percent = percentOf(progress, name, 0, 1);
	RetrySchedule schedule(services_.retry);
	bool refreshed = false;
	DownloadResult result;
	while (true) {
		const uint64_t offset = result.written;
		const TransferProgress fromOffset =
		    percent ? TransferProgress([&](uint64_t done, uint64_t total) {
			    percent(offset + done, total == 0 ? 0 : offset + total);
		    })
			    : nullptr;
		result = http_.downloadToFile(url, headers(), file, offset, fromOffset);
		const bool content = result.status == 200 || result.status == 206;
		if ((result.transferred && content) || !file)
			break;
		if (result.status == 401 && !refreshed) {
			refreshed = true;
			if (refreshAccessToken())
				continue;
			break;
		}
		// A connection that broke mid-way resumes from what arrived.
		const int32_t status = result.transferred ? result.status : 0;
		if (!schedule.waitBeforeRetry(status, result.retryAfter))
			break;
	}
	const bool written = static_cast<bool>(file);
	file.close();
	const bool content = result.status == 200 || result.status == 206;
	if (result.transferred && content && written && file) {
		// A resume that the service answered from the start may leave a longer old tail.
		std::filesystem::resize_file(target, result.written, ec);
		if (!ec) {
			if (progress)
				progress(name, 100, 0, 1);
			return true;
		}
	}
	std::filesystem::remove(target, ec);
	lastError_ = !written || !file     ? "Download failed: cannot write " + localPath
		     : !result.transferred ? "Download failed: " + result.error
		     : !content            ? failureText("Download failed",
							 HttpResponse{result.status, result.errorBody, {}, true})
					   : "Download failed: cannot write " + localPath;
	return false;
}

bool OAuthProvider::resumable(const std::string &localPath) const
{
	std::error_code ec;
	const uintmax_t size = std::filesystem::file_size(pathFromUtf8(localPath), ec);
	return !ec && size >= services_.uploads.resumableFrom;
}

bool OAuthProvider::uploadInSession(UploadSession &session, const std::string &localPath, uint64_t unit,
				    const ProgressCallback &progress, int32_t lastFirst)
{
	const std::string name = localFileName(localPath);
	const uint64_t chunk = std::max(unit, services_.uploads.chunkBytes / unit * unit);
	if (progress)
		progress(name, 0, 0, 1);
	const std::string error =
	    uploadInChunks(session, localPath, chunk, services_.retry, percentOf(progress, name, 0, 1));
	if (progress)
		progress(name, 100, lastFirst, 1);
	if (!error.empty())
		lastError_ = error;
	return error.empty();
}

TransferProgress OAuthProvider::percentOf(const ProgressCallback &progress, const std::string &fileName,
					  int32_t first, int32_t second)
{
	if (!progress)
		return nullptr;
	auto last = std::make_shared<int32_t>(0);
	return [progress, fileName, first, second, last](uint64_t done, uint64_t total) {
		if (total == 0)
			return;
		// 0 and 100 mark the start and the end; the transfer reports what lies between.
		const auto percent = static_cast<int32_t>(std::min<uint64_t>(done * 100 / total, 99));
		if (percent > *last) {
			*last = percent;
			progress(fileName, percent, first, second);
		}
	};
}

} // namespace kestrel
