#include "providers/onedrive-provider.h"

#include "platform/pkce-crypto.h"

#include <nlohmann/json.hpp>

namespace kestrel {

using nlohmann::json;

namespace {

const char *const kFormType = "application/x-www-form-urlencoded";
const char *const kScope = "Files.ReadWrite offline_access";

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

std::string OneDriveProvider::itemUrl(const std::string &remotePath) const
{
	return endpoints().graph + "/me/drive/root:/" + percentEncodePath(remotePath);
}

HttpHeaders OneDriveProvider::headers(const std::string &contentType) const
{
	HttpHeaders lines;
	if (!credentials_.accessToken.empty())
		lines.push_back(bearerHeader(credentials_.accessToken));
	if (!contentType.empty())
		lines.push_back("Content-Type: " + contentType);
	return lines;
}

bool OneDriveProvider::authenticate()
{
	if (credentials_.clientId.empty()) {
		lastError_ = "Client ID not set. Configure it in plugin settings.";
		return false;
	}
	const std::string verifier = pkceVerifier();
	const std::string redirect = redirectUri(services_.signIn.port);
	const std::string code = requestAuthorizationCode(
	    endpoints().authority + "/authorize?client_id=" + credentials_.clientId +
	    "&response_type=code&redirect_uri=" + redirect +
	    "&scope=Files.ReadWrite+offline_access&code_challenge=" + pkceChallenge(verifier) +
	    "&code_challenge_method=S256");
	if (code.empty()) {
		lastError_ = "OAuth failed or timed out.";
		return false;
	}
	const std::string form = formEncode({{"client_id", credentials_.clientId},
					     {"code", code},
					     {"redirect_uri", redirect},
					     {"grant_type", "authorization_code"},
					     {"code_verifier", verifier}});
	return storeTokenAnswer(http_.post(endpoints().authority + "/token", form, headers(kFormType)));
}

bool OneDriveProvider::refreshAccessToken()
{
	if (credentials_.refreshToken.empty())
		return false;
	return refreshWith(endpoints().authority + "/token",
			   formEncode({{"client_id", credentials_.clientId},
				       {"refresh_token", credentials_.refreshToken},
				       {"grant_type", "refresh_token"},
				       {"scope", kScope}}),
			   headers(kFormType));
}

bool OneDriveProvider::verifySignIn()
{
	if (!isAuthenticated()) {
		lastError_ = "Not signed in to " + name() + ".";
		return false;
	}
	const HttpResponse answer =
	    withRefresh([&] { return http_.get(endpoints().graph + "/me/drive?select=id", headers()); });
	if (answer.status == 200)
		return true;
	lastError_ = failureText("Sign-in check failed", answer);
	return false;
}

bool OneDriveProvider::uploadFile(const std::string &localPath, const std::string &remotePath,
				  ProgressCallback progress)
{
	const std::optional<std::string> bytes = readUploadSource(localPath);
	if (!bytes)
		return false;
	const std::string name = localFileName(localPath);
	if (progress)
		progress(name, 0, 0, 1);
	const HttpResponse answer = withRefresh([&] {
		return http_.put(itemUrl(remotePath) + ":/content", *bytes,
				 headers("application/octet-stream"), percentOf(progress, name, 0, 1));
	});
	if (progress)
		progress(name, 100, 1, 1);
	if (answer.status == 200 || answer.status == 201)
		return true;
	lastError_ = failureText("Upload failed", answer);
	return false;
}

bool OneDriveProvider::downloadFile(const std::string &remotePath, const std::string &localPath,
				    ProgressCallback progress)
{
	const HttpResponse answer = withRefresh([&] {
		return http_.get(itemUrl(remotePath) + "?select=@microsoft.graph.downloadUrl", headers());
	});
	if (answer.status != 200) {
		lastError_ = "Item not found: " + remotePath;
		if (answer.status != 404)
			lastError_ += " \u2014 " + failureText("metadata request failed", answer);
		return false;
	}
	const json metadata = json::parse(answer.body, nullptr, false);
	const auto link =
	    metadata.is_object() ? metadata.find("@microsoft.graph.downloadUrl") : metadata.end();
	if (!metadata.is_object() || link == metadata.end() || !link->is_string()) {
		lastError_ = "No download URL in response.";
		return false;
	}
	// The download URL is pre-authorised and may lie on another host: no token goes with it.
	return receiveFile(link->get<std::string>(), {}, localPath, progress);
}

bool OneDriveProvider::createFolder(const std::string &remotePath)
{
	const size_t slash = remotePath.rfind('/');
	const std::string parent = slash == std::string::npos ? std::string() : remotePath.substr(0, slash);
	const std::string name = slash == std::string::npos ? remotePath : remotePath.substr(slash + 1);
	const std::string url =
	    parent.empty() ? endpoints().graph + "/me/drive/root/children" : itemUrl(parent) + ":/children";
	const json body = {
	    {"@microsoft.graph.conflictBehavior", "rename"}, {"folder", json::object()}, {"name", name}};
	const int32_t status = http_
				   .post(url, body.dump(-1, ' ', false, json::error_handler_t::replace),
					 headers("application/json"))
				   .status;
	return status == 200 || status == 201;
}

bool OneDriveProvider::listFolder(const std::string &remotePath, std::vector<RemoteEntry> &entries)
{
	const HttpResponse answer = withRefresh([&] {
		return http_.get(itemUrl(remotePath) + ":/children?select=id,name,size,file,folder",
				 headers());
	});
	if (answer.status != 200)
		return false;
	try {
		const json body = json::parse(answer.body);
		std::vector<RemoteEntry> found;
		for (const json &item : body.at("value")) {
			RemoteEntry entry;
			entry.id = item.value("id", "");
			entry.name = item.value("name", "");
			entry.path = remotePath + "/" + entry.name;
			entry.size = item.value("size", uint64_t{0});
			entry.isFolder = item.contains("folder");
			found.push_back(std::move(entry));
		}
		entries.insert(entries.end(), found.begin(), found.end());
		return true;
	} catch (const std::exception &) {
		return false;
	}
}

bool OneDriveProvider::deleteItem(const std::string &remotePath)
{
	return http_.remove(itemUrl(remotePath), headers()).status == 204;
}

} // namespace kestrel
