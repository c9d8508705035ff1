#include "platform/loopback-socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace kestrel::platform {

namespace {

sockaddr_in loopbackAddress(uint16_t port)
{
	sockaddr_in address{};
	address.sin_family = AF_INET;
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	address.sin_port = htons(port);
	return address;
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

LoopbackSocket LoopbackSocket::listen(uint16_t port)
{
	LoopbackSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
	if (!socket.valid())
		return socket;
	const int fd = static_cast<int>(socket.handle_);
	// Lets a sign-in start again right after the last one; a live listener still blocks.
	const int on = 1;
	setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
	const sockaddr_in address = loopbackAddress(port);
	if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0 ||
	    ::listen(fd, 1) != 0)
		socket.close();
	return socket;
}

LoopbackSocket LoopbackSocket::connect(uint16_t port)
{
	LoopbackSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
	const sockaddr_in address = loopbackAddress(port);
	if (socket.valid() && ::connect(static_cast<int>(socket.handle_),
					reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0)
		socket.close();
	return socket;
}

uint16_t LoopbackSocket::port() const
{
	sockaddr_in address{};
	socklen_t length = sizeof(address);
	if (!valid() ||
	    getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr *>(&address), &length) != 0)
		return 0;
	return ntohs(address.sin_port);
}

LoopbackSocket LoopbackSocket::accept(std::chrono::milliseconds wait)
{
	if (!valid() || !readable(static_cast<int>(handle_), wait))
		return {};
	return LoopbackSocket(::accept4(static_cast<int>(handle_), nullptr, nullptr, SOCK_CLOEXEC));
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
