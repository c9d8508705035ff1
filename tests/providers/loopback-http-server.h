#pragma once

#include "platform/loopback-socket.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
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
	Reply(int status = 200, std::string body = {}, std::vector<std::string> headers = {},
	      std::chrono::milliseconds stallBeforeBody = {})
	    : status(status), body(std::move(body)), headers(std::move(headers)),
	      stallBeforeBody(stallBeforeBody)
	{
	}

	int status = 200;
	std::string body;
	std::vector<std::string> headers; // complete lines
	std::chrono::milliseconds stallBeforeBody{0};
	// A body too large to hold: `bodyLength` bytes, read piece by piece.
	std::function<std::string(uint64_t offset, uint64_t length)> bodyPart;
	uint64_t bodyLength = 0;
};

// A service misbehaving on purpose: the next `times` requests whose method is `method` and
// whose target contains `target` get `reply` instead of the service's answer, or with
// `keepBytes` set, reach the service with only that much of their body before the connection
// drops; with `cutBodyAfter` set, the service's answer breaks off after that many body bytes.
struct Fault {
	std::string method;
	std::string target;
	int times = 1;
	std::optional<Reply> reply;
	std::optional<size_t> keepBytes;
	std::optional<uint64_t> cutBodyAfter;
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
	void addFault(Fault fault);

private:
	void serve();
	void answer(platform::LoopbackSocket &connection);
	std::optional<Fault> takeFault(const ReceivedRequest &request);
	static void send(platform::LoopbackSocket &connection, const Reply &reply,
			 std::optional<uint64_t> cutBodyAfter);

	Handler handler_;
	platform::LoopbackSocket listener_;
	uint16_t port_ = 0;
	std::atomic<bool> stopping_{false};
	mutable std::mutex mutex_;
	std::vector<ReceivedRequest> requests_;
	std::vector<Fault> faults_;
	std::thread thread_;
};

} // namespace kestrel::test
