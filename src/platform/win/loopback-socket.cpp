#include "platform/loopback-socket.h"

#include <winsock2.h>

#include <ws2tcpip.h>

#include <algorithm>

namespace kestrel::platform {

namespace {

// The loopback address of `family` with `port`, and its length.
int loopbackAddress(LoopbackSocket::Family family, uint16_t port, sockaddr_storage &storage)
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

bool readable(SOCKET socket, std::chrono::milliseconds wait)
{
	WSAPOLLFD entry{socket, POLLRDNORM, 0};
	return WSAPoll(&entry, 1, static_cast<INT>(wait.count())) > 0;
}

// Each socket holds one Winsock reference, so Winsock lives exactly as long as a socket does.
intptr_t openSocket(LoopbackSocket::Family family)
{
	WSADATA data;
	if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
		return -1;
	const bool v6 = family == LoopbackSocket::Family::IPv6;
	const SOCKET socket = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
	if (socket == INVALID_SOCKET) {
		WSACleanup();
		return -1;
	}
	// [::1] alone: the IPv4 port is a socket of its own.
	const DWORD on = 1;
	if (v6)
		setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char *>(&on),
			   sizeof(on));
	return static_cast<intptr_t>(socket);
}

} // namespace

void LoopbackSocket::close()
{
	if (valid()) {
		closesocket(static_cast<SOCKET>(handle_));
		WSACleanup();
	}
	handle_ = kInvalid;
}

LoopbackSocket LoopbackSocket::listen(uint16_t port, Family family)
{
	LoopbackSocket socket(openSocket(family));
	if (!socket.valid())
		return socket;
	const SOCKET handle = static_cast<SOCKET>(socket.handle_);
	// SO_REUSEADDR would let this socket steal a port another program listens on.
	const BOOL on = TRUE;
	setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&on), sizeof(on));
	sockaddr_storage address;
	const int length = loopbackAddress(family, port, address);
	if (::bind(handle, reinterpret_cast<const sockaddr *>(&address), length) != 0 ||
	    ::listen(handle, 1) != 0)
		socket.close();
	return socket;
}

LoopbackSocket LoopbackSocket::connect(uint16_t port, Family family)
{
	LoopbackSocket socket(openSocket(family));
	sockaddr_storage address;
	const int length = loopbackAddress(family, port, address);
	if (socket.valid() && ::connect(static_cast<SOCKET>(socket.handle_),
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
	int length = sizeof(address);
	if (!valid() ||
	    getsockname(static_cast<SOCKET>(handle_), reinterpret_cast<sockaddr *>(&address), &length) != 0)
		return 0;
	return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 &>(address).sin6_port
						   : reinterpret_cast<const sockaddr_in &>(address).sin_port);
}

LoopbackSocket LoopbackSocket::accept(std::chrono::milliseconds wait)
{
	if (!valid() || !readable(static_cast<SOCKET>(handle_), wait))
		return {};
	const SOCKET accepted = ::accept(static_cast<SOCKET>(handle_), nullptr, nullptr);
	if (accepted == INVALID_SOCKET)
		return {};
	WSADATA data;
	WSAStartup(MAKEWORD(2, 2), &data); // the accepted socket's own reference
	return LoopbackSocket(static_cast<intptr_t>(accepted));
}

LoopbackSocket LoopbackSocket::acceptAny(const std::vector<LoopbackSocket *> &listeners,
					 std::chrono::milliseconds wait)
{
	std::vector<WSAPOLLFD> entries;
	std::vector<LoopbackSocket *> polled;
	for (LoopbackSocket *listener : listeners) {
		if (listener->valid()) {
			entries.push_back({static_cast<SOCKET>(listener->handle_), POLLRDNORM, 0});
			polled.push_back(listener);
		}
	}
	if (entries.empty() ||
	    WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), static_cast<INT>(wait.count())) <= 0)
		return {};
	for (size_t i = 0; i < entries.size(); ++i)
		if (entries[i].revents & POLLRDNORM)
			return polled[i]->accept(std::chrono::milliseconds(0));
	return {};
}

LoopbackSocket::Received LoopbackSocket::receive(std::string &text, size_t maxBytes,
						 std::chrono::milliseconds wait)
{
	if (!valid())
		return Received::Closed;
	if (!readable(static_cast<SOCKET>(handle_), wait))
		return Received::TimedOut;
	char buffer[4096];
	const int count = ::recv(static_cast<SOCKET>(handle_), buffer,
				 static_cast<int>(std::min(maxBytes, sizeof(buffer))), 0);
	if (count <= 0)
		return Received::Closed;
	text.append(buffer, static_cast<size_t>(count));
	return Received::Data;
}

bool LoopbackSocket::sendAll(std::string_view bytes)
{
	while (valid() && !bytes.empty()) {
		const int sent = ::send(static_cast<SOCKET>(handle_), bytes.data(),
					static_cast<int>(std::min<size_t>(bytes.size(), 1 << 20)), 0);
		if (sent <= 0)
			return false;
		bytes.remove_prefix(static_cast<size_t>(sent));
	}
	return bytes.empty();
}

} // namespace kestrel::platform
