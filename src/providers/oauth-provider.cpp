#include "providers/oauth-provider.h"

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

std::string OAuthProvider::requestAuthorizationCode(const std::string &authorizationUrl)
{
	const std::string state = randomState();
	return waitForAuthorizationCode(authorizationUrl + "&state=" + state, state, services_.signIn);
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

bool OAuthProvider::refreshWith(const std::string &tokenUrl, const std::string &form,
				const HttpHeaders &headers)
{
	const HttpResponse answer = http_.post(tokenUrl, form, headers);
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

bool OAuthProvider::receiveFile(const std::string &url, const HttpHeaders &headers,
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
	const DownloadResult result =
	    http_.downloadToFile(url, headers, file, percentOf(progress, name, 0, 1));
	file.close();
	if (result.transferred && result.status == 200 && file) {
		if (progress)
			progress(name, 100, 0, 1);
		return true;
	}
	std::filesystem::remove(target, ec);
	lastError_ = !result.transferred    ? "Download failed: " + result.error
		     : result.status != 200 ? failureText("Download failed", HttpResponse{result.status, {}})
					    : "Download failed: cannot write " + localPath;
	return false;
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
