// Any local program can send the sign-in listener a request; none may crash it or read past
// the received bytes.
#include "providers/authorization-listener.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string request(reinterpret_cast<const char *>(data), size);
	const std::string query = kestrel::requestQuery(request);
	if (query.size() > request.size())
		__builtin_trap();
	for (const char *name : {"code", "state", "error"})
		if (kestrel::queryParameter(query, name).size() > query.size())
			__builtin_trap();
	return 0;
}
