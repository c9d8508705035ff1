#pragma once

#include "loopback-http-server.h"
#include "providers/cloud-services.h"

#include <map>

namespace kestrel::test {

// Google's token endpoint and Drive v3 as far as the back-end uses them, on loopback. Items
// live in memory; the fake checks the bearer token and answers 401 to a stale one.
class FakeGoogleDrive {
public:
	struct Item {
		std::string name;
		std::string parent;
		bool folder = false;
		std::string content;
		bool contentLost = false; // listed, but its content answers 404
	};

	FakeGoogleDrive();

	// Endpoints on this fake; sign-in on `signInPort`.
	CloudServices services(uint16_t signInPort) const;

	// What the tests look at and change; guarded because the server thread reads it too.
	std::string idOf(const std::string &remotePath) const;
	Item item(const std::string &id) const;
	size_t count() const;
	void expireAccessToken();
	void setItem(const std::string &id, Item item);

	std::string clientSecret = "s+e&c=r%t";
	std::string code = "4/a+b&c=d%e";
	std::string accessToken = "access-1";
	std::string refreshToken = "refresh-1";
	int refreshes = 0;
	std::string lastUploadMetadata;
	LoopbackHttpServer server;

private:
	Reply handle(const ReceivedRequest &request);
	Reply token(const ReceivedRequest &request);
	Reply query(const std::string &q) const;
	Reply upload(const ReceivedRequest &request, const std::string &existingId);

	mutable std::mutex mutex_;
	std::map<std::string, Item> items_;
	int nextId_ = 1;
};

} // namespace kestrel::test
