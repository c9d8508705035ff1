#pragma once

#include "platform/loopback-socket.h"

#include <atomic>
#include <cstdint>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace kestrel::test {

// A port that is free now and that the kernel won't hand out by itself: it lies below the
// ephemeral range, so another test's listen(0) or outgoing connection can't take it before
// the code under test binds it.
inline uint16_t sparePort()
{
	constexpr uint16_t kFirst = 20000, kCount = 10000;
	static std::atomic<uint16_t> next{static_cast<uint16_t>(getpid() * 97 % kCount)};
	for (int tries = 0; tries < kCount; ++tries) {
		const auto port = static_cast<uint16_t>(kFirst + next.fetch_add(1) % kCount);
		if (platform::LoopbackSocket::listen(port).valid())
			return port;
	}
	return 0;
}

} // namespace kestrel::test
