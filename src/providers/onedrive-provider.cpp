#include "providers/onedrive-provider.h"

#include "providers/resumable-upload.h"

#include <nlohmann/json.hpp>

#include <set>

namespace kestrel {

using nlohmann::json;

namespace {

const char *const kFormType = "application/x-www-form-urlencoded";
const char *const kScope = "Files.ReadWrite offline_access";
// Graph takes upload-session chunks in multiples of this.
constexpr uint64_t kChunkUnit = 320 * 1024;

std::string compact(const json &value)
{
	return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace

// Graph's upload session: its URL is pre-authorised (no token goes with it), takes
// "Content-Range" chunks, answers 202 with the "nextExpectedRanges" until the last one.
class OneDriveProvider::UploadSessionOfGraph final : public UploadSession {
public:
	UploadSessionOfGraph(OneDriveProvider &onedrive, std::string remotePath)
	    : onedrive_(onedrive), remotePath_(std::move(remotePath))
	{
	}

	std::string open(uint64_t, std::string &error) override
	{
		const json body = {{"item", {{"@microsoft.graph.conflictBehavior", "replace"}}}};
		const HttpResponse answer = onedrive_.send([&] {
			return onedrive_.http_.post(onedrive_.itemUrl(remotePath_) + ":/createUploadSession",
						    compact(body), onedrive_.headers("application/json"));
		});
		const json session = json::parse(answer.body, nullptr, false);
		const auto url = session.is_object() ? session.find("uploadUrl") : session.end();
		if (answer.status != 200 || !session.is_object() || url == session.end() ||
		    !url->is_string() || !acceptable(url->get<std::string>())) {
			error = onedrive_.failureText("Upload failed", answer);
			return {};
		}
		return url->get<std::string>();
	}
	HttpResponse sendChunk(const std::string &url, std::istream &source, uint64_t offset, uint64_t length,
			       uint64_t size, const TransferProgress &progress) override
	{
		const std::string range = "Content-Range: bytes " + std::to_string(offset) + "-" +
					  std::to_string(offset + length - 1) + "/" + std::to_string(size);
		return onedrive_.http_.putStream(url, source, length, {range}, progress);
	}
	HttpResponse askProgress(const std::string &url, uint64_t) override
	{
		HttpResponse answer = onedrive_.http_.get(url, {});
		// The session's state is told as a chunk's answer would tell it: not done yet.
		if (answer.status == 200 && firstExpectedOffset(answer.body))
			answer.status = 202;
		return answer;
	}
	std::optional<uint64_t> nextOffset(const HttpResponse &answer) const override
	{
		if (answer.status != 202)
			return std::nullopt;
		return firstExpectedOffset(answer.body);
	}
	void cancel(const std::string &url) override { onedrive_.http_.remove(url, {}); }

private:
	// The file's bytes go only to an encrypted address, or to the service's own.
	bool acceptable(const std::string &url) const
	{
		return url.rfind("https://", 0) == 0 ||
		       urlOrigin(url) == urlOrigin(onedrive_.endpoints().graph);
	}

	OneDriveProvider &onedrive_;
	const std::string remotePath_;
};

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
		"&code_challenge_method=S256",
	    "OAuth failed or timed out.");
	if (code.empty())
		return false;
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
	    send([&] { return http_.get(endpoints().graph + "/me/drive?select=id", headers()); });
	if (answer.status == 200)
		return true;
	lastError_ = failureText("Sign-in check failed", answer);
	return false;
}

bool OneDriveProvider::uploadFile(const std::string &localPath, const std::string &remotePath,
				  ProgressCallback progress)
{
	if (resumable(localPath)) {
		UploadSessionOfGraph session(*this, remotePath);
		return uploadInSession(session, localPath, kChunkUnit, progress, 1);
	}
	const std::string name = localFileName(localPath);
	const std::optional<std::string> bytes = readUploadSource(localPath);
	if (!bytes)
		return false;
	if (progress)
		progress(name, 0, 0, 1);
	const HttpResponse answer = send([&] {
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
	const HttpResponse answer = send([&] {
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
	return receiveFile(
	    link->get<std::string>(), [] { return HttpHeaders(); }, localPath, progress);
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
	// A repeated create would add a renamed second folder: only one that surely did not arrive.
	const int32_t status =
	    send([&] { return http_.post(url, compact(body), headers("application/json")); }, false).status;
	return status == 200 || status == 201;
}

bool OneDriveProvider::listFolder(const std::string &remotePath, std::vector<RemoteEntry> &entries)
{
	std::string url = itemUrl(remotePath) + ":/children?select=id,name,size,file,folder";
	std::vector<RemoteEntry> found;
	// Graph answers in pages; a listing that misses one would make its files look absent.
	for (std::set<std::string> seen; !url.empty();) {
		// The next page's address comes from the answer and gets the token: the service's own only.
		if (urlOrigin(url) != urlOrigin(endpoints().graph) || !seen.insert(url).second)
			return false;
		const HttpResponse answer = send([&] { return http_.get(url, headers()); });
		if (answer.status != 200)
			return false;
		try {
			const json body = json::parse(answer.body);
			for (const json &item : body.at("value")) {
				RemoteEntry entry;
				entry.id = item.value("id", "");
				entry.name = item.value("name", "");
				entry.path = remotePath + "/" + entry.name;
				entry.size = item.value("size", uint64_t{0});
				entry.isFolder = item.contains("folder");
				found.push_back(std::move(entry));
			}
			url = body.value("@odata.nextLink", "");
		} catch (const std::exception &) {
			return false;
		}
	}
	entries.insert(entries.end(), found.begin(), found.end());
	return true;
}

bool OneDriveProvider::deleteItem(const std::string &remotePath)
{
	return send([&] { return http_.remove(itemUrl(remotePath), headers()); }).status == 204;
}

} // namespace kestrel
