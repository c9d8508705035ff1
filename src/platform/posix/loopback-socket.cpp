#include "platform/loopback-socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace kestrel::platform {

namespace {

// The loopback address of `family` with `port`, and its length.
socklen_t loopbackAddress(LoopbackSocket::Family family, uint16_t port, sockaddr_storage &storage)
{
	storage = {};
	if (family == LoopbackSocket::Family::IPv6) {
		auto &address = reinterpret_cast<sockaddr_in6 &>(storage);
		address.sin6_family = AF_INET6;
		address.sin6_addr = in6addr_loopback;
		address.sin6_port = htons(port);
		return sizeof(address);
	}
	auto &address = reinterpret_cast<sockaddr_in &>(storage);
	address.sin_family = AF_INET;
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	address.sin_port = htons(port);
	return sizeof(address);
}

int openSocket(LoopbackSocket::Family family)
{
	const int fd = ::socket(family == LoopbackSocket::Family::IPv6 ? AF_INET6 : AF_INET,
				SOCK_STREAM | SOCK_CLOEXEC, 0);
	const int on = 1;
	// [::1] alone: the IPv4 port is a socket of its own.
	if (fd >= 0 && family == LoopbackSocket::Family::IPv6)
		setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on));
	return fd;
}

bool readable(int fd, std::chrono::milliseconds wait)
{
	pollfd entry{fd, POLLIN, 0};
	return ::poll(&entry, 1, static_cast<int>(wait.count())) > 0;
}

} // namespace

void LoopbackSocket::close()
{
	if (valid())
		::close(static_cast<int>(handle_));
	handle_ = kInvalid;
}

LoopbackSocket LoopbackSocket::listen(uint16_t port, Family family)
{
	LoopbackSocket socket(openSocket(family));
	if (!socket.valid())
		return socket;
	const int fd = static_cast<int>(socket.handle_);
	// Lets a sign-in start again right after the last one; a live listener still blocks.
	const int on = 1;
	setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
	sockaddr_storage address;
	const socklen_t length = loopbackAddress(family, port, address);
	if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0 || ::listen(fd, 1) != 0)
		socket.close();
	return socket;
}

LoopbackSocket LoopbackSocket::connect(uint16_t port, Family family)
{
	LoopbackSocket socket(openSocket(family));
	sockaddr_storage address;
	const socklen_t length = loopbackAddress(family, port, address);
	if (socket.valid() && ::connect(static_cast<int>(socket.handle_),
					reinterpret_cast<const sockaddr *>(&address), length) != 0)
		socket.close();
	return socket;
}

bool LoopbackSocket::hasIPv6()
{
	return listen(0, Family::IPv6).valid();
}

uint16_t LoopbackSocket::port() const
{
	sockaddr_storage address{};
	socklen_t length = sizeof(address);
	if (!valid() ||
	    getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr *>(&address), &length) != 0)
		return 0;
	return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 &>(address).sin6_port
						   : reinterpret_cast<const sockaddr_in &>(address).sin_port);
}

LoopbackSocket LoopbackSocket::accept(std::chrono::milliseconds wait)
{
	if (!valid() || !readable(static_cast<int>(handle_), wait))
		return {};
	return LoopbackSocket(::accept4(static_cast<int>(handle_), nullptr, nullptr, SOCK_CLOEXEC));
}

LoopbackSocket LoopbackSocket::acceptAny(const std::vector<LoopbackSocket *> &listeners,
					 std::chrono::milliseconds wait)
{
	std::vector<pollfd> entries;
	std::vector<LoopbackSocket *> polled;
	for (LoopbackSocket *listener : listeners) {
		if (listener->valid()) {
			entries.push_back({static_cast<int>(listener->handle_), POLLIN, 0});
			polled.push_back(listener);
		}
	}
	if (::poll(entries.data(), entries.size(), static_cast<int>(wait.count())) <= 0)
		return {};
	for (size_t i = 0; i < entries.size(); ++i)
		if (entries[i].revents & POLLIN)
			return polled[i]->accept(std::chrono::milliseconds(0));
	return {};
}

LoopbackSocket::Received LoopbackSocket::receive(std::string &text, size_t maxBytes,
						 std::chrono::milliseconds wait)
{
	if (!valid())
		return Received::Closed;
	if (!readable(static_cast<int>(handle_), wait))
		return Received::TimedOut;
	char buffer[4096];
	const ssize_t count =
	    ::recv(static_cast<int>(handle_), buffer, std::min(maxBytes, sizeof(buffer)), 0);
	if (count <= 0)
		return Received::Closed;
	text.append(buffer, static_cast<size_t>(count));
	return Received::Data;
}

bool LoopbackSocket::sendAll(std::string_view bytes)
{
	while (valid() && !bytes.empty()) {
		const ssize_t sent =
		    ::send(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
		if (sent <= 0)
			return false;
		bytes.remove_prefix(static_cast<size_t>(sent));
	}
	return bytes.empty();
}

} // namespace kestrel::platform
