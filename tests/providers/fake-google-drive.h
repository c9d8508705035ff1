#pragma once

#include "loopback-http-server.h"
#include "providers/cloud-services.h"
#include "stored-bytes.h"

#include <map>
#include <nlohmann/json.hpp>

namespace kestrel::test {

// Google's token endpoint and Drive v3 as far as the back-end uses them, on loopback: listings
// in pages, multipart and resumable uploads, downloads with ranges. Items live in memory; the
// fake checks the bearer token and answers 401 to a stale one.
class FakeGoogleDrive {
public:
	struct Item {
		std::string name;
		std::string parent;
		bool folder = false;
		StoredBytes content;
		bool contentLost = false; // listed, but its content answers 404
	};

	FakeGoogleDrive();

	// Endpoints on this fake; sign-in on `signInPort`.
	CloudServices services(uint16_t signInPort) const;

	// What the tests look at and change; guarded because the server thread reads it too.
	std::string idOf(const std::string &remotePath) const;
	Item item(const std::string &id) const;
	size_t count() const;
	// How many files the folder at `remotePath` holds.
	size_t filesIn(const std::string &remotePath) const;
	void expireAccessToken();
	// The access token expires after `requests` more authorised requests.
	void expireAccessTokenAfter(int requests);
	void setItem(const std::string &id, Item item);
	// Requests that sent file content: multipart uploads and resumable chunks.
	size_t contentRequests() const;

	std::string clientSecret = "s+e&c=r%t";
	std::string code = "4/a+b&c=d%e";
	std::string accessToken = "access-1";
	std::string refreshToken = "refresh-1";
	int refreshes = 0;
	std::string lastUploadMetadata;
	std::string challengeSeen; // the PKCE challenge of the last authorization request
	size_t pageLimit = 100;    // Drive may return fewer items than a page asks for
	LoopbackHttpServer server;

private:
	Reply handle(const ReceivedRequest &request);
	Reply token(const ReceivedRequest &request);
	Reply query(const ReceivedRequest &request) const;
	Reply upload(const ReceivedRequest &request, const std::string &existingId);
	Reply openSession(const ReceivedRequest &request, const std::string &existingId);
	Reply sessionChunk(const ReceivedRequest &request);
	std::string store(const nlohmann::json &metadata, const std::string &existingId, StoredBytes content);

	struct Session {
		std::string metadata;
		std::string existingId;
		uint64_t total = 0;
		StoredBytes received;
	};

	mutable std::mutex mutex_;
	std::map<std::string, Item> items_;
	std::map<std::string, Session> sessions_;
	int nextId_ = 1;
	int expireAfter_ = -1;
	size_t contentRequests_ = 0;
};

} // namespace kestrel::test
