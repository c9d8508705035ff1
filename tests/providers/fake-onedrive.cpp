#include "fake-onedrive.h"

#include "providers/http-transport.h"
#include "providers/onedrive-provider.h"

#include <nlohmann/json.hpp>

namespace kestrel::test {

using nlohmann::json;

namespace {

const std::string kAuthority = "/consumers/oauth2/v2.0";
const std::string kRoot = "/v1.0/me/drive/root";
const std::string kSessions = "/upload-session/";
constexpr uint64_t kChunkUnit = 320 * 1024;

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

size_t FakeOneDrive::filesIn(const std::string &remotePath) const
{
	std::lock_guard lock(mutex_);
	size_t count = 0;
	for (const auto &[path, item] : items_)
		count += parentOf(path) == remotePath && !item.folder;
	return count;
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

void FakeOneDrive::expireAccessTokenAfter(int requests)
{
	std::lock_guard lock(mutex_);
	expireAfter_ = requests;
}

size_t FakeOneDrive::contentRequests() const
{
	std::lock_guard lock(mutex_);
	return contentRequests_;
}

void FakeOneDrive::store(const std::string &path, StoredBytes content)
{
	// Graph makes the missing folders of a path on the way.
	for (std::string folder = parentOf(path); !folder.empty(); folder = parentOf(folder))
		items_[folder].folder = true;
	items_[path] = {false, std::move(content)};
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
		return it == items_.end() ? Reply{404, "", {}, {}}
					  : contentReply(request, it->second.content);
	}
	// So are upload sessions; a token sent there would be one more place it could leak.
	if (request.path.rfind(kSessions, 0) == 0)
		return request.header("Authorization").empty()
			   ? sessionChunk(request)
			   : jsonReply(400, {{"error", "token sent to an upload URL"}});
	if (expireAfter_ >= 0 && expireAfter_-- == 0)
		accessToken += "-expired";
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
		++contentRequests_;
		const bool existed = items_.count(path) > 0;
		store(path, request.body);
		return jsonReply(existed ? 200 : 201, {{"id", path}});
	}
	if (request.method == "POST" && endsWith(path, ":/createUploadSession")) {
		path.resize(path.size() - 21);
		const std::string id = std::to_string(nextSession_++);
		sessions_[id] = {path, {}};
		return jsonReply(200,
				 {{"uploadUrl", server.url(kSessions + id)}, {"nextExpectedRanges", {"0-"}}});
	}
	if (endsWith(path, ":/children")) {
		path.resize(path.size() - 10);
		if (request.method == "POST") {
			const json body = json::parse(request.body);
			items_[(path.empty() ? "" : path + "/") + body.at("name").get<std::string>()].folder =
			    true;
			return jsonReply(201, {{"id", "new"}});
		}
		return children(request, path);
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

Reply FakeOneDrive::children(const ReceivedRequest &request, const std::string &path)
{
	if (!path.empty() && (!items_.count(path) || !items_[path].folder))
		return jsonReply(404, {{"error", {{"code", "itemNotFound"}}}});
	const std::string token = request.parameter("$skiptoken");
	const size_t skip = token.empty() ? 0 : std::stoul(token);
	json value = json::array();
	size_t matched = 0;
	bool more = false;
	for (const auto &[childPath, item] : items_) {
		if (parentOf(childPath) != path || matched++ < skip)
			continue;
		if (value.size() == pageLimit) {
			more = true;
			break;
		}
		json child = {{"id", childPath},
			      {"name", childPath.substr(path.empty() ? 0 : path.size() + 1)}};
		if (item.folder)
			child["folder"] = {{"childCount", 0}};
		else
			child.update({{"size", item.content.size()}, {"file", json::object()}});
		value.push_back(child);
	}
	json answer = {{"value", value}};
	if (more) {
		const std::string target = request.target.substr(0, request.target.find("&$skiptoken"));
		answer["@odata.nextLink"] =
		    server.url(target + "&$skiptoken=" + std::to_string(skip + value.size()));
	}
	return jsonReply(200, answer);
}

Reply FakeOneDrive::sessionChunk(const ReceivedRequest &request)
{
	const auto session = sessions_.find(request.path.substr(kSessions.size()));
	if (session == sessions_.end())
		return jsonReply(404, {{"error", {{"code", "itemNotFound"}}}});
	Session &upload = session->second;
	const auto expected = [&] {
		return jsonReply(202,
				 {{"nextExpectedRanges", {std::to_string(upload.received.size()) + "-"}}});
	};
	if (request.method == "DELETE") {
		sessions_.erase(session);
		return {204, "", {}, {}};
	}
	if (request.method == "GET")
		return jsonReply(200,
				 {{"nextExpectedRanges", {std::to_string(upload.received.size()) + "-"}}});
	const auto range = parseContentRange(request.header("Content-Range"));
	if (request.method != "PUT" || !range || range->query)
		return jsonReply(400, {{"error", "bad chunk"}});
	const uint64_t length = range->last - range->first + 1;
	const bool last = range->last + 1 == range->total;
	if (range->first != upload.received.size() || (!last && length % kChunkUnit != 0))
		return jsonReply(416, {{"error", {{"code", "invalidRange"}}}});
	++contentRequests_;
	// A connection that broke leaves what arrived of the chunk.
	upload.received.append(std::string_view(request.body).substr(0, length));
	if (upload.received.size() < range->total)
		return expected();
	const bool existed = items_.count(upload.path) > 0;
	store(upload.path, upload.received);
	const std::string path = upload.path;
	sessions_.erase(session);
	return jsonReply(existed ? 200 : 201, {{"id", path}});
}

} // namespace kestrel::test
