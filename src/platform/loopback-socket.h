#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform {

// A TCP socket on a loopback address (127.0.0.1 or [::1]), closed when destroyed. Listening
// sockets never share their port with another process's listener.
class LoopbackSocket {
public:
	enum class Received { Data, TimedOut, Closed };
	enum class Family { IPv4, IPv6 };

	LoopbackSocket() = default;
	~LoopbackSocket() { close(); }
	LoopbackSocket(LoopbackSocket &&other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }
	LoopbackSocket &operator=(LoopbackSocket &&other) noexcept
	{
		if (this != &other) {
			close();
			handle_ = other.handle_;
			other.handle_ = kInvalid;
		}
		return *this;
	}
	LoopbackSocket(const LoopbackSocket &) = delete;
	LoopbackSocket &operator=(const LoopbackSocket &) = delete;

	// Listens on `port` (0: any free port); an invalid socket when the port is taken.
	static LoopbackSocket listen(uint16_t port, Family family = Family::IPv4);
	// Connects to a listener on `port`; an invalid socket when nobody listens there.
	static LoopbackSocket connect(uint16_t port, Family family = Family::IPv4);
	// Whether this system has the IPv6 loopback address at all.
	static bool hasIPv6();
	// Waits up to `wait` for a connection on any of `listeners`; invalid when none came.
	static LoopbackSocket acceptAny(const std::vector<LoopbackSocket *> &listeners,
					std::chrono::milliseconds wait);

	bool valid() const { return handle_ != kInvalid; }
	// The local port, useful after listen(0).
	uint16_t port() const;

	// Waits up to `wait` for an incoming connection; invalid when none came.
	LoopbackSocket accept(std::chrono::milliseconds wait);
	// Waits up to `wait` for bytes and appends at most `maxBytes` of them to `text`.
	Received receive(std::string &text, size_t maxBytes, std::chrono::milliseconds wait);
	bool sendAll(std::string_view bytes);

private:
	static constexpr intptr_t kInvalid = -1;
	explicit LoopbackSocket(intptr_t handle) : handle_(handle) {}
	void close();

	intptr_t handle_ = kInvalid;
};

} // namespace kestrel::platform
