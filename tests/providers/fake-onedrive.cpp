#include "fake-onedrive.h"

#include "providers/http-transport.h"
#include "providers/onedrive-provider.h"

#include <nlohmann/json.hpp>

namespace kestrel::test {

using nlohmann::json;

namespace {

const std::string kAuthority = "/consumers/oauth2/v2.0";
const std::string kRoot = "/v1.0/me/drive/root";

Reply jsonReply(int status, const json &body)
{
	return {status, body.dump(), {"Content-Type: application/json"}, {}};
}

bool endsWith(const std::string &text, const std::string &end)
{
	return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string parentOf(const std::string &path)
{
	const size_t slash = path.rfind('/');
	return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

FakeOneDrive::FakeOneDrive() : server([this](const ReceivedRequest &request) { return handle(request); }) {}

CloudServices FakeOneDrive::services(uint16_t signInPort) const
{
	CloudServices services;
	services.onedrive = {server.url(kAuthority), server.url("/v1.0")};
	services.signIn.port = signInPort;
	services.signIn.timeout = std::chrono::seconds(10);
	return services;
}

std::map<std::string, FakeOneDrive::Item> FakeOneDrive::items() const
{
	std::lock_guard lock(mutex_);
	return items_;
}

void FakeOneDrive::setItem(const std::string &path, Item item)
{
	std::lock_guard lock(mutex_);
	items_[path] = std::move(item);
}

void FakeOneDrive::expireAccessToken()
{
	std::lock_guard lock(mutex_);
	accessToken += "-expired";
}

Reply FakeOneDrive::handle(const ReceivedRequest &request)
{
	std::lock_guard lock(mutex_);
	if (request.path == kAuthority + "/authorize") {
		challenge_ = request.parameter("code_challenge");
		return {302,
			"",
			{"Location: " + request.parameter("redirect_uri") + "?code=" + percentEncode(code) +
			 "&state=" + request.parameter("state")},
			{}};
	}
	if (request.path == kAuthority + "/token")
		return token(request);
	// Download URLs are pre-authorised, like Graph's.
	if (request.path.rfind("/content/", 0) == 0) {
		const auto it = items_.find(request.path.substr(9));
		return it == items_.end() ? Reply{404, "", {}, {}} : Reply{200, it->second.content, {}, {}};
	}
	if (request.header("Authorization") != "Bearer " + accessToken)
		return jsonReply(401, {{"error", {{"code", "InvalidAuthenticationToken"}}}});
	if (request.path == "/v1.0/me/drive")
		return jsonReply(200, {{"id", "drive-1"}});
	return driveItems(request);
}

Reply FakeOneDrive::token(const ReceivedRequest &request)
{
	if (request.header("Content-Type") != "application/x-www-form-urlencoded")
		return jsonReply(400, {{"error", "invalid_request"}});
	const std::string grant = request.formField("grant_type");
	if (grant == "authorization_code") {
		verifierSeen = request.formField("code_verifier");
		if (request.formField("code") != code || pkceChallenge(verifierSeen) != challenge_)
			return jsonReply(400, {{"error", "invalid_grant"}});
		return jsonReply(200, {{"access_token", accessToken}, {"refresh_token", refreshToken}});
	}
	if (grant == "refresh_token" && request.formField("refresh_token") == refreshToken &&
	    request.formField("scope") == "Files.ReadWrite offline_access") {
		++refreshes;
		accessToken = "graph-" + std::to_string(refreshes + 1);
		json answer = {{"access_token", accessToken}};
		if (rotateRefreshToken)
			answer["refresh_token"] = refreshToken = "mrefresh-" + std::to_string(refreshes + 1);
		return jsonReply(200, answer);
	}
	return jsonReply(400, {{"error", "invalid_grant"}});
}

Reply FakeOneDrive::driveItems(const ReceivedRequest &request)
{
	std::string path;
	if (request.path == kRoot + "/children")
		path = ":/children";
	else if (request.path.rfind(kRoot + ":/", 0) == 0)
		path = request.path.substr(kRoot.size() + 2);
	else
		return jsonReply(400, {{"error", "unexpected request"}});

	if (request.method == "PUT" && endsWith(path, ":/content")) {
		path.resize(path.size() - 9);
		// Graph makes the missing folders of a path on the way.
		for (std::string folder = parentOf(path); !folder.empty(); folder = parentOf(folder))
			items_[folder].folder = true;
		const bool existed = items_.count(path) > 0;
		items_[path] = {false, request.body};
		return jsonReply(existed ? 200 : 201, {{"id", path}});
	}
	if (endsWith(path, ":/children")) {
		path.resize(path.size() - 10);
		if (request.method == "POST") {
			const json body = json::parse(request.body);
			items_[(path.empty() ? "" : path + "/") + body.at("name").get<std::string>()].folder =
			    true;
			return jsonReply(201, {{"id", "new"}});
		}
		if (!path.empty() && (!items_.count(path) || !items_[path].folder))
			return jsonReply(404, {{"error", {{"code", "itemNotFound"}}}});
		json value = json::array();
		for (const auto &[childPath, item] : items_) {
			if (parentOf(childPath) != path)
				continue;
			json child = {{"id", childPath}, {"name", childPath.substr(path.size() + 1)}};
			if (item.folder)
				child["folder"] = {{"childCount", 0}};
			else
				child.update({{"size", item.content.size()}, {"file", json::object()}});
			value.push_back(child);
		}
		return jsonReply(200, {{"value", value}});
	}
	const auto it = items_.find(path);
	if (it == items_.end())
		return jsonReply(404, {{"error", {{"code", "itemNotFound"}}}});
	if (request.method == "DELETE") {
		items_.erase(it);
		return {204, "", {}, {}};
	}
	if (request.parameter("select") == "@microsoft.graph.downloadUrl")
		return jsonReply(200, {{"@microsoft.graph.downloadUrl",
					server.url("/content/" + percentEncodePath(path))}});
	return jsonReply(400, {{"error", "unexpected request"}});
}

} // namespace kestrel::test
