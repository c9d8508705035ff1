#include "providers/google-drive-provider.h"

#include "platform/file-state.h"
#include "providers/resumable-upload.h"
#include "providers/utf8-path.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace kestrel {

using nlohmann::json;

namespace {

const char *const kFolderType = "application/vnd.google-apps.folder";
const char *const kBoundary = "obs_cloud_backup_boundary";
const char *const kFormHeader = "Content-Type: application/x-www-form-urlencoded";
// Drive takes resumable chunks in multiples of this.
constexpr uint64_t kChunkUnit = 256 * 1024;

std::vector<std::string> pathPieces(const std::string &remotePath)
{
	std::vector<std::string> pieces;
	size_t start = 0;
	while (start <= remotePath.size()) {
		size_t end = remotePath.find('/', start);
		if (end == std::string::npos)
			end = remotePath.size();
		if (end > start)
			pieces.push_back(remotePath.substr(start, end - start));
		start = end + 1;
	}
	return pieces;
}

std::string compact(const json &value)
{
	return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The first "files" element's "id"; empty when there is none or the answer is malformed.
std::string firstFileId(const HttpResponse &answer)
{
	if (answer.status != 200)
		return {};
	const json body = json::parse(answer.body, nullptr, false);
	if (!body.is_object() || !body.contains("files") || !body["files"].is_array() ||
	    body["files"].empty())
		return {};
	const json &first = body["files"][0];
	return first.is_object() && first.contains("id") && first["id"].is_string()
		   ? first["id"].get<std::string>()
		   : std::string();
}

} // namespace

std::string driveQueryLiteral(const std::string &text)
{
	std::string literal = "'";
	for (char c : text) {
		if (c == '\\' || c == '\'')
			literal += '\\';
		literal += c;
	}
	return literal + "'";
}

HttpHeaders GoogleDriveProvider::authHeaders() const
{
	return {bearerHeader(credentials_.accessToken)};
}

bool GoogleDriveProvider::authenticate()
{
	if (credentials_.clientId.empty()) {
		lastError_ = "Client ID not set. Configure it in plugin settings.";
		return false;
	}
	const std::string redirect = redirectUri(services_.signIn.port);
	const std::string verifier = pkceVerifier();
	const std::string code = requestAuthorizationCode(
	    endpoints().authorization + "?client_id=" + credentials_.clientId + "&redirect_uri=" + redirect +
		"&response_type=code&scope=" + endpoints().scope +
		"&access_type=offline&prompt=consent&code_challenge=" + pkceChallenge(verifier) +
		"&code_challenge_method=S256",
	    "OAuth authorization failed or timed out.");
	if (code.empty())
		return false;
	const std::string form = formEncode({{"code", code},
					     {"client_id", credentials_.clientId},
					     {"client_secret", credentials_.clientSecret},
					     {"redirect_uri", redirect},
					     {"grant_type", "authorization_code"},
					     {"code_verifier", verifier}});
	return storeTokenAnswer(http_.post(endpoints().token, form, {kFormHeader}));
}

bool GoogleDriveProvider::refreshAccessToken()
{
	if (credentials_.refreshToken.empty())
		return false;
	return refreshWith(endpoints().token,
			   formEncode({{"client_id", credentials_.clientId},
				       {"client_secret", credentials_.clientSecret},
				       {"refresh_token", credentials_.refreshToken},
				       {"grant_type", "refresh_token"}}),
			   {kFormHeader});
}

bool GoogleDriveProvider::verifySignIn()
{
	if (!isAuthenticated()) {
		lastError_ = "Not signed in to " + name() + ".";
		return false;
	}
	const HttpResponse answer = send(
	    [&] { return http_.get(endpoints().files + "?pageSize=1&fields=files(id)", authHeaders()); });
	if (answer.status == 200)
		return true;
	lastError_ = failureText("Sign-in check failed", answer);
	return false;
}

std::string GoogleDriveProvider::findChild(const std::string &parentId, const std::string &name,
					   bool foldersOnly)
{
	std::string query = driveQueryLiteral(parentId) + " in parents and name=" + driveQueryLiteral(name) +
			    " and trashed=false";
	if (foldersOnly)
		query += std::string(" and mimeType='") + kFolderType + "'";
	const std::string url = endpoints().files + "?q=" + percentEncode(query) + "&fields=files(id,name)";
	return firstFileId(send([&] { return http_.get(url, authHeaders()); }));
}

std::string GoogleDriveProvider::createChildFolder(const std::string &parentId, const std::string &name)
{
	const json metadata = {{"mimeType", kFolderType}, {"name", name}, {"parents", {parentId}}};
	// A repeated create could leave two folders of one name: only one that surely did not arrive.
	const HttpResponse answer = send(
	    [&] {
		    return http_.post(
			endpoints().files + "?fields=id", compact(metadata),
			{"Content-Type: application/json", bearerHeader(credentials_.accessToken)});
	    },
	    false);
	if (answer.status != 200 && answer.status != 201)
		return {};
	const json body = json::parse(answer.body, nullptr, false);
	return body.is_object() && body.contains("id") && body["id"].is_string()
		   ? body["id"].get<std::string>()
		   : std::string();
}

std::string GoogleDriveProvider::resolvePath(const std::string &remotePath)
{
	std::string parent = "root";
	for (const auto &piece : pathPieces(remotePath)) {
		parent = findChild(parent, piece, false);
		if (parent.empty())
			break;
	}
	return parent;
}

std::string GoogleDriveProvider::ensureFolderPath(const std::string &remotePath)
{
	std::string parent = "root";
	for (const auto &piece : pathPieces(remotePath)) {
		std::string id = findChild(parent, piece, true);
		if (id.empty())
			id = createChildFolder(parent, piece);
		if (id.empty())
			return {};
		parent = id;
	}
	return parent;
}

// Drive's resumable protocol: the session URI takes "Content-Range" chunks and answers 308 with
// the "Range" it holds until the last one. It is a capability of its own: no token goes with it.
class GoogleDriveProvider::ResumableSession final : public UploadSession {
public:
	ResumableSession(GoogleDriveProvider &drive, std::string url, std::string metadata, bool replacing)
	    : drive_(drive), url_(std::move(url)), metadata_(std::move(metadata)), replacing_(replacing)
	{
	}

	std::string open(uint64_t size, std::string &error) override
	{
		const auto request = [&] {
			const HttpHeaders headers = {bearerHeader(drive_.credentials_.accessToken),
						     "Content-Type: application/json; charset=UTF-8",
						     "X-Upload-Content-Type: application/octet-stream",
						     "X-Upload-Content-Length: " + std::to_string(size)};
			return replacing_ ? drive_.http_.patch(url_, metadata_, headers)
					  : drive_.http_.post(url_, metadata_, headers);
		};
		// Opening a session stores nothing yet, so it may be repeated.
		const HttpResponse answer = drive_.send(request);
		const std::string session = answer.header("Location");
		if (answer.status != 200 || urlOrigin(session) != urlOrigin(url_)) {
			error = drive_.failureText("Upload failed", answer);
			return {};
		}
		return session;
	}
	HttpResponse sendChunk(const std::string &url, std::istream &source, uint64_t offset, uint64_t length,
			       uint64_t size, const TransferProgress &progress) override
	{
		const std::string range = "Content-Range: bytes " + std::to_string(offset) + "-" +
					  std::to_string(offset + length - 1) + "/" + std::to_string(size);
		return drive_.http_.putStream(url, source, length, {range}, progress);
	}
	HttpResponse askProgress(const std::string &url, uint64_t size) override
	{
		return drive_.http_.put(url, {}, {"Content-Range: bytes */" + std::to_string(size)});
	}
	std::optional<uint64_t> nextOffset(const HttpResponse &answer) const override
	{
		if (answer.status != 308)
			return std::nullopt;
		// No "Range" yet: nothing has arrived.
		const std::string range = answer.header("Range");
		return range.empty() ? std::optional<uint64_t>(0) : offsetAfterRange(range);
	}
	void cancel(const std::string &url) override { drive_.http_.remove(url, {}); }

private:
	GoogleDriveProvider &drive_;
	const std::string url_;
	const std::string metadata_;
	const bool replacing_;
};

bool GoogleDriveProvider::uploadFile(const std::string &localPath, const std::string &remotePath,
				     ProgressCallback progress)
{
	const bool chunked = resumable(localPath);
	std::optional<std::string> bytes;
	if (!chunked && !(bytes = readUploadSource(localPath)))
		return false;
	if (chunked && !platform::fileState(localPath)) {
		lastError_ = "Cannot read local file: " + localPath;
		return false;
	}

	const size_t slash = remotePath.rfind('/');
	const std::string parentPath =
	    slash == std::string::npos ? std::string() : remotePath.substr(0, slash);
	const std::string fileName = slash == std::string::npos ? remotePath : remotePath.substr(slash + 1);
	const std::string parentId = parentPath.empty() ? "root" : ensureFolderPath(parentPath);
	if (parentId.empty()) {
		lastError_ = "Could not create remote folder: " + parentPath;
		return false;
	}
	const std::string existingId = findChild(parentId, fileName, false);
	json metadata = {{"name", fileName}};
	if (existingId.empty())
		metadata["parents"] = {parentId};
	const std::string target = endpoints().upload + (existingId.empty() ? "" : "/" + existingId);
	const std::string name = localFileName(localPath);
	if (chunked) {
		ResumableSession session(*this, target + "?uploadType=resumable", compact(metadata),
					 !existingId.empty());
		return uploadInSession(session, localPath, kChunkUnit, progress, 0);
	}
	// A new file sent twice would be two files of one name; replacing one by id may be repeated.
	const HttpResponse answer = send(
	    [&] {
		    return uploadMultipart(target + "?uploadType=multipart", compact(metadata), *bytes, name,
					   progress);
	    },
	    !existingId.empty());
	if (answer.status == 200 || answer.status == 201)
		return true;
	lastError_ = failureText("Upload failed", answer);
	return false;
}

HttpResponse GoogleDriveProvider::uploadMultipart(const std::string &url, const std::string &metadata,
						  const std::string &bytes, const std::string &fileName,
						  const ProgressCallback &progress)
{
	const std::string boundary = kBoundary;
	std::string body = "--" + boundary + "\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n" +
			   metadata + "\r\n--" + boundary +
			   "\r\nContent-Type: application/octet-stream\r\n\r\n";
	body.reserve(body.size() + bytes.size() + boundary.size() + 8);
	body += bytes;
	body += "\r\n--" + boundary + "--\r\n";
	if (progress)
		progress(fileName, 0, 0, 1);
	HttpResponse answer = http_.post(
	    url, body,
	    {"Content-Type: multipart/related; boundary=" + boundary, bearerHeader(credentials_.accessToken)},
	    percentOf(progress, fileName, 0, 1));
	if (progress)
		progress(fileName, 100, 0, 1);
	return answer;
}

bool GoogleDriveProvider::downloadFile(const std::string &remotePath, const std::string &localPath,
				       ProgressCallback progress)
{
	const std::string id = resolvePath(remotePath);
	if (id.empty()) {
		lastError_ = "Remote file not found: " + remotePath;
		return false;
	}
	return receiveFile(
	    endpoints().files + "/" + id + "?alt=media", [this] { return authHeaders(); }, localPath,
	    progress);
}

bool GoogleDriveProvider::createFolder(const std::string &remotePath)
{
	return !ensureFolderPath(remotePath).empty();
}

bool GoogleDriveProvider::listFolder(const std::string &remotePath, std::vector<RemoteEntry> &entries)
{
	const std::string id = resolvePath(remotePath);
	if (id.empty())
		return false;
	const std::string query = driveQueryLiteral(id) + " in parents and trashed=false";
	const std::string first = endpoints().files + "?q=" + percentEncode(query) +
				  "&pageSize=1000&fields=nextPageToken,files(id,name,size,mimeType)";
	std::vector<RemoteEntry> found;
	std::string pageToken;
	// Drive answers in pages; a listing that misses one would make its files look absent.
	do {
		const std::string url =
		    pageToken.empty() ? first : first + "&pageToken=" + percentEncode(pageToken);
		const HttpResponse answer = send([&] { return http_.get(url, authHeaders()); });
		if (answer.status != 200)
			return false;
		try {
			const json body = json::parse(answer.body);
			for (const json &file : body.at("files")) {
				RemoteEntry entry;
				entry.id = file.value("id", "");
				entry.name = file.value("name", "");
				entry.path = remotePath + "/" + entry.name;
				// Drive sends sizes as decimal text.
				const auto size = file.find("size");
				if (size != file.end())
					entry.size = size->is_string() ? std::stoull(size->get<std::string>())
								       : size->get<uint64_t>();
				entry.isFolder = file.value("mimeType", "") == kFolderType;
				found.push_back(std::move(entry));
			}
			const std::string next = body.value("nextPageToken", "");
			if (!next.empty() && next == pageToken)
				return false; // a service that repeats itself would list for ever
			pageToken = next;
		} catch (const std::exception &) {
			return false;
		}
	} while (!pageToken.empty());
	entries.insert(entries.end(), found.begin(), found.end());
	return true;
}

bool GoogleDriveProvider::deleteItem(const std::string &remotePath)
{
	const std::string id = resolvePath(remotePath);
	if (id.empty())
		return false;
	return send([&] { return http_.remove(endpoints().files + "/" + id, authHeaders()); }).status == 204;
}

} // namespace kestrel
