#pragma once

#include "loopback-http-server.h"
#include "providers/cloud-services.h"

#include <map>

namespace kestrel::test {

// The Microsoft identity platform (PKCE) and Graph's drive items by path, on loopback. Items
// live in memory; the fake checks the bearer token and answers 401 to a stale one.
class FakeOneDrive {
public:
	struct Item {
		bool folder = false;
		std::string content;
	};

	FakeOneDrive();

	CloudServices services(uint16_t signInPort) const;

	std::map<std::string, Item> items() const;
	void setItem(const std::string &path, Item item);
	void expireAccessToken();

	std::string code = "M.code+1/2";
	std::string accessToken = "graph-1";
	std::string refreshToken = "mrefresh-1";
	bool rotateRefreshToken = false;
	int refreshes = 0;
	std::string verifierSeen;
	LoopbackHttpServer server;

private:
	Reply handle(const ReceivedRequest &request);
	Reply token(const ReceivedRequest &request);
	Reply driveItems(const ReceivedRequest &request);

	mutable std::mutex mutex_;
	std::map<std::string, Item> items_; // by path below the root
	std::string challenge_;
};

} // namespace kestrel::test
