#pragma once

#include "loopback-http-server.h"
#include "providers/cloud-services.h"
#include "stored-bytes.h"

#include <map>

namespace kestrel::test {

// The Microsoft identity platform (PKCE) and Graph's drive items by path, on loopback: listings
// in pages, simple and session uploads, downloads with ranges. Items live in memory; the fake
// checks the bearer token and answers 401 to a stale one.
class FakeOneDrive {
public:
	struct Item {
		bool folder = false;
		StoredBytes content;
	};

	FakeOneDrive();

	CloudServices services(uint16_t signInPort) const;

	std::map<std::string, Item> items() const;
	// How many files the folder at `remotePath` holds.
	size_t filesIn(const std::string &remotePath) const;
	void setItem(const std::string &path, Item item);
	void expireAccessToken();
	// The access token expires after `requests` more authorised requests.
	void expireAccessTokenAfter(int requests);
	// Requests that sent file content: simple uploads and session chunks.
	size_t contentRequests() const;

	std::string code = "M.code+1/2";
	std::string accessToken = "graph-1";
	std::string refreshToken = "mrefresh-1";
	bool rotateRefreshToken = false;
	int refreshes = 0;
	std::string verifierSeen;
	size_t pageLimit = 200; // Graph's default page
	LoopbackHttpServer server;

private:
	Reply handle(const ReceivedRequest &request);
	Reply token(const ReceivedRequest &request);
	Reply driveItems(const ReceivedRequest &request);
	Reply children(const ReceivedRequest &request, const std::string &path);
	Reply sessionChunk(const ReceivedRequest &request);
	void store(const std::string &path, StoredBytes content);

	struct Session {
		std::string path;
		StoredBytes received;
	};

	mutable std::mutex mutex_;
	std::map<std::string, Item> items_; // by path below the root
	std::map<std::string, Session> sessions_;
	std::string challenge_;
	int expireAfter_ = -1;
	int nextSession_ = 1;
	size_t contentRequests_ = 0;
};

} // namespace kestrel::test
