#include "fake-google-drive.h"

#include "providers/http-transport.h"
#include "providers/oauth-provider.h"

#include <nlohmann/json.hpp>

namespace kestrel::test {

using nlohmann::json;

namespace {

const std::string kFolderType = "application/vnd.google-apps.folder";
constexpr uint64_t kChunkUnit = 256 * 1024;

Reply jsonReply(int status, const json &body)
{
	return {status, body.dump(), {"Content-Type: application/json"}, {}};
}

// Reads the query literal starting at the quote at `at`, undoing "\" escapes.
std::string literalAt(const std::string &q, size_t at, size_t &end)
{
	std::string value;
	size_t i = at + 1;
	for (; i < q.size() && q[i] != '\''; ++i) {
		if (q[i] == '\\' && i + 1 < q.size())
			++i;
		value += q[i];
	}
	end = i + 1;
	return value;
}

} // namespace

FakeGoogleDrive::FakeGoogleDrive()
    : server([this](const ReceivedRequest &request) { return handle(request); })
{
}

CloudServices FakeGoogleDrive::services(uint16_t signInPort) const
{
	CloudServices services;
	services.google = {server.url("/o/oauth2/v2/auth"), server.url("/token"),
			   server.url("/drive/v3/files"), server.url("/upload/drive/v3/files"),
			   "https://www.googleapis.com/auth/drive.file"};
	services.signIn.port = signInPort;
	services.signIn.timeout = std::chrono::seconds(10);
	return services;
}

std::string FakeGoogleDrive::idOf(const std::string &remotePath) const
{
	std::lock_guard lock(mutex_);
	std::string parent = "root";
	size_t start = 0;
	while (start <= remotePath.size()) {
		size_t end = remotePath.find('/', start);
		if (end == std::string::npos)
			end = remotePath.size();
		const std::string name = remotePath.substr(start, end - start);
		std::string found;
		for (const auto &[id, item] : items_)
			if (item.parent == parent && item.name == name)
				found = id;
		if (found.empty())
			return {};
		parent = found;
		start = end + 1;
	}
	return parent;
}

FakeGoogleDrive::Item FakeGoogleDrive::item(const std::string &id) const
{
	std::lock_guard lock(mutex_);
	const auto it = items_.find(id);
	return it == items_.end() ? Item{} : it->second;
}

size_t FakeGoogleDrive::count() const
{
	std::lock_guard lock(mutex_);
	return items_.size();
}

size_t FakeGoogleDrive::filesIn(const std::string &remotePath) const
{
	const std::string folder = idOf(remotePath);
	std::lock_guard lock(mutex_);
	size_t count = 0;
	for (const auto &[id, item] : items_)
		count += item.parent == folder && !item.folder;
	return count;
}

void FakeGoogleDrive::expireAccessToken()
{
	std::lock_guard lock(mutex_);
	accessToken += "-expired";
}

void FakeGoogleDrive::expireAccessTokenAfter(int requests)
{
	std::lock_guard lock(mutex_);
	expireAfter_ = requests;
}

void FakeGoogleDrive::setItem(const std::string &id, Item item)
{
	std::lock_guard lock(mutex_);
	items_[id] = std::move(item);
}

size_t FakeGoogleDrive::contentRequests() const
{
	std::lock_guard lock(mutex_);
	return contentRequests_;
}

Reply FakeGoogleDrive::handle(const ReceivedRequest &request)
{
	std::lock_guard lock(mutex_);
	if (request.path == "/o/oauth2/v2/auth") {
		challengeSeen = request.parameter("code_challenge");
		return {302,
			"",
			{"Location: " + request.parameter("redirect_uri") + "?code=" + percentEncode(code) +
			 "&state=" + request.parameter("state")},
			{}};
	}
	if (request.path == "/token")
		return token(request);
	const std::string uploads = "/upload/drive/v3/files";
	// A session URI is a capability of its own: it takes chunks without a token.
	if (request.path == uploads && !request.parameter("upload_id").empty())
		return sessionChunk(request);
	if (expireAfter_ >= 0 && expireAfter_-- == 0)
		accessToken += "-expired";
	if (request.header("Authorization") != "Bearer " + accessToken)
		return jsonReply(401, {{"error", {{"code", 401}, {"message", "Invalid Credentials"}}}});

	const std::string files = "/drive/v3/files";
	if (request.method == "GET" && request.path == files)
		return query(request);
	if (request.method == "POST" && request.path == files) {
		const json metadata = json::parse(request.body);
		const std::string id = "folder" + std::to_string(nextId_++);
		items_[id] = {metadata.at("name"), metadata.at("parents").at(0),
			      metadata.at("mimeType") == kFolderType, "", false};
		return jsonReply(200, {{"id", id}});
	}
	if ((request.method == "POST" || request.method == "PATCH") && request.path.rfind(uploads, 0) == 0) {
		const std::string existingId =
		    request.path.size() > uploads.size() ? request.path.substr(uploads.size() + 1) : "";
		return request.parameter("uploadType") == "resumable" ? openSession(request, existingId)
								      : upload(request, existingId);
	}
	const std::string id =
	    request.path.rfind(files + "/", 0) == 0 ? request.path.substr(files.size() + 1) : "";
	const auto it = items_.find(id);
	if (it == items_.end() || (request.method == "GET" && it->second.contentLost))
		return jsonReply(404, {{"error", {{"code", 404}}}});
	if (request.method == "GET" && request.parameter("alt") == "media")
		return contentReply(request, it->second.content);
	if (request.method == "DELETE") {
		items_.erase(it);
		return {204, "", {}, {}};
	}
	return jsonReply(400, {{"error", "unexpected request"}});
}

Reply FakeGoogleDrive::token(const ReceivedRequest &request)
{
	const std::string grant = request.formField("grant_type");
	if (request.header("Content-Type") != "application/x-www-form-urlencoded" ||
	    request.formField("client_secret") != clientSecret)
		return jsonReply(401, {{"error", "invalid_client"}});
	if (grant == "authorization_code" && request.formField("code") == code &&
	    request.formField("redirect_uri").find("/callback") != std::string::npos &&
	    pkceChallenge(request.formField("code_verifier")) == challengeSeen)
		return jsonReply(200, {{"access_token", accessToken}, {"refresh_token", refreshToken}});
	if (grant == "refresh_token" && request.formField("refresh_token") == refreshToken) {
		++refreshes;
		accessToken = "access-" + std::to_string(refreshes + 1);
		return jsonReply(200, {{"access_token", accessToken}, {"expires_in", 3599}});
	}
	return jsonReply(400, {{"error", "invalid_grant"}});
}

Reply FakeGoogleDrive::query(const ReceivedRequest &request) const
{
	const std::string q = request.parameter("q");
	size_t end = 0;
	const std::string parent = literalAt(q, q.find('\''), end);
	const size_t nameAt = q.find("name='", end);
	std::string name;
	if (nameAt != std::string::npos)
		name = literalAt(q, nameAt + 5, end);
	const bool foldersOnly = q.find("mimeType='" + kFolderType + "'", end) != std::string::npos;
	const size_t asked =
	    request.parameter("pageSize").empty() ? 100 : std::stoul(request.parameter("pageSize"));
	const size_t pageSize = std::min(asked, pageLimit);
	const size_t skip =
	    request.parameter("pageToken").empty() ? 0 : std::stoul(request.parameter("pageToken").substr(1));
	json found = json::array();
	size_t matched = 0;
	bool more = false;
	for (const auto &[id, item] : items_) {
		if (item.parent != parent || (nameAt != std::string::npos && item.name != name) ||
		    (foldersOnly && !item.folder))
			continue;
		if (matched++ < skip)
			continue;
		if (found.size() == pageSize) {
			more = true;
			break;
		}
		json file = {{"id", id}, {"name", item.name}};
		file["mimeType"] = item.folder ? kFolderType : "application/octet-stream";
		if (!item.folder)
			file["size"] = std::to_string(item.content.size());
		found.push_back(file);
	}
	json answer = {{"files", found}};
	if (more)
		answer["nextPageToken"] = "p" + std::to_string(skip + found.size());
	return jsonReply(200, answer);
}

std::string FakeGoogleDrive::store(const json &metadata, const std::string &existingId, StoredBytes content)
{
	std::string id = existingId;
	if (id.empty()) {
		id = "file" + std::to_string(nextId_++);
		items_[id] = {metadata.at("name"), metadata.at("parents").at(0), false, {}, false};
	}
	items_[id].name = metadata.at("name");
	items_[id].content = std::move(content);
	return id;
}

Reply FakeGoogleDrive::upload(const ReceivedRequest &request, const std::string &existingId)
{
	const std::string boundary = "obs_cloud_backup_boundary";
	if (request.header("Content-Type") != "multipart/related; boundary=" + boundary ||
	    request.parameter("uploadType") != "multipart")
		return jsonReply(400, {{"error", "not multipart"}});
	const std::string head =
	    "--" + boundary + "\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n";
	const std::string middle = "\r\n--" + boundary + "\r\nContent-Type: application/octet-stream\r\n\r\n";
	const std::string tail = "\r\n--" + boundary + "--\r\n";
	const size_t split = request.body.find(middle);
	if (request.body.rfind(head, 0) != 0 || split == std::string::npos ||
	    request.body.size() < split + middle.size() + tail.size() ||
	    request.body.compare(request.body.size() - tail.size(), tail.size(), tail) != 0)
		return jsonReply(400, {{"error", "malformed multipart body"}});
	++contentRequests_;
	lastUploadMetadata = request.body.substr(head.size(), split - head.size());
	if (!existingId.empty() && !items_.count(existingId))
		return jsonReply(404, {{"error", "no such file"}});
	const size_t start = split + middle.size();
	const std::string id =
	    store(json::parse(lastUploadMetadata), existingId,
		  std::string_view(request.body).substr(start, request.body.size() - tail.size() - start));
	return jsonReply(200, {{"id", id}});
}

Reply FakeGoogleDrive::openSession(const ReceivedRequest &request, const std::string &existingId)
{
	if (!existingId.empty() && !items_.count(existingId))
		return jsonReply(404, {{"error", "no such file"}});
	const std::string length = request.header("X-Upload-Content-Length");
	if (length.empty() || request.header("Content-Type") != "application/json; charset=UTF-8")
		return jsonReply(400, {{"error", "no upload length"}});
	lastUploadMetadata = request.body;
	const std::string id = std::to_string(nextId_++);
	sessions_[id] = {request.body, existingId, std::stoull(length), {}};
	return {200,
		"",
		{"Location: " + server.url("/upload/drive/v3/files?uploadType=resumable&upload_id=" + id)},
		{}};
}

Reply FakeGoogleDrive::sessionChunk(const ReceivedRequest &request)
{
	const auto session = sessions_.find(request.parameter("upload_id"));
	if (session == sessions_.end())
		return jsonReply(404, {{"error", "no such upload"}});
	Session &upload = session->second;
	if (request.method == "DELETE") {
		sessions_.erase(session);
		return {499, "", {}, {}};
	}
	const auto range = parseContentRange(request.header("Content-Range"));
	if (request.method != "PUT" || !range || range->total != upload.total)
		return jsonReply(400, {{"error", "bad chunk"}});
	if (!range->query) {
		const uint64_t length = range->last - range->first + 1;
		const bool last = range->last + 1 == upload.total;
		if (range->first != upload.received.size() || (!last && length % kChunkUnit != 0))
			return jsonReply(400, {{"error", "chunk out of place"}});
		++contentRequests_;
		// A connection that broke leaves what arrived of the chunk.
		upload.received.append(request.body.substr(0, length));
	}
	if (upload.received.size() == upload.total) {
		const std::string id =
		    store(json::parse(upload.metadata), upload.existingId, upload.received);
		sessions_.erase(session);
		return jsonReply(200, {{"id", id}});
	}
	Reply incomplete{308, "", {}, {}};
	if (upload.received.size() > 0)
		incomplete.headers.push_back("Range: bytes=0-" + std::to_string(upload.received.size() - 1));
	return incomplete;
}

} // namespace kestrel::test
