// What a cloud service (or whoever answers in its place) sends back about retries and
// resumable uploads; none of it may crash the back-end or yield an offset it did not state.
#include "providers/resumable-upload.h"
#include "providers/retry-policy.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string text(reinterpret_cast<const char *>(data), size);
	if (const auto wait = kestrel::parseRetryAfter(text, std::chrono::system_clock::now());
	    wait && wait->count() < 0)
		__builtin_trap();
	if (const auto offset = kestrel::offsetAfterRange(text); offset && *offset == 0)
		__builtin_trap(); // "bytes=0-N" names at least one byte
	kestrel::firstExpectedOffset(text);
	return 0;
}
