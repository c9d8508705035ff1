#pragma once

#include "platform/loopback-socket.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kestrel::test {

// One request as the server received it; `path` is percent-decoded, `query` is raw.
struct ReceivedRequest {
	std::string method;
	std::string target;
	std::string path;
	std::string query;
	std::vector<std::pair<std::string, std::string>> headers;
	std::string body;

	// The first header of that name (case-insensitive), empty when absent.
	std::string header(const std::string &name) const;
	// A percent-decoded query or form parameter ("+" is a space), empty when absent.
	std::string parameter(const std::string &name) const;
	std::string formField(const std::string &name) const;
};

struct Reply {
	int status = 200;
	std::string body;
	std::vector<std::string> headers; // complete lines
	std::chrono::milliseconds stallBeforeBody{0};
};

// An HTTP/1.1 server on 127.0.0.1 (a free port) answering one request per connection from its
// own thread; the handler runs on that thread.
class LoopbackHttpServer {
public:
	using Handler = std::function<Reply(const ReceivedRequest &)>;

	explicit LoopbackHttpServer(Handler handler);
	~LoopbackHttpServer();

	uint16_t port() const { return port_; }
	std::string url(const std::string &path = "") const;
	std::vector<ReceivedRequest> requests() const;

private:
	void serve();
	void answer(platform::LoopbackSocket &connection);

	Handler handler_;
	platform::LoopbackSocket listener_;
	uint16_t port_ = 0;
	std::atomic<bool> stopping_{false};
	mutable std::mutex mutex_;
	std::vector<ReceivedRequest> requests_;
	std::thread thread_;
};

} // namespace kestrel::test
