#pragma once

#include "providers/http-transport.h"
#include "providers/retry-policy.h"

#include <optional>

namespace kestrel {

// One service's side of a resumable upload: a session URL takes the file in chunks, says how
// far it got, and survives a broken connection.
class UploadSession {
public:
	virtual ~UploadSession() = default;

	// Starts a session for `size` bytes; its URL, or empty with `error` set.
	virtual std::string open(uint64_t size, std::string &error) = 0;
	// Sends the bytes [offset, offset + length) of `size`, read from `source`.
	virtual HttpResponse sendChunk(const std::string &url, std::istream &source, uint64_t offset,
				       uint64_t length, uint64_t size, const TransferProgress &progress) = 0;
	// Asks the session how far it got, after a chunk failed.
	virtual HttpResponse askProgress(const std::string &url, uint64_t size) = 0;
	// The next offset the service wants, from an answer that is neither "done" nor an error.
	virtual std::optional<uint64_t> nextOffset(const HttpResponse &answer) const = 0;
	virtual void cancel(const std::string &url) = 0;
};

// The offset after Drive's "Range: bytes=0-LAST" answer; nothing when it is not of that form.
std::optional<uint64_t> offsetAfterRange(const std::string &rangeHeader);
// The start of Graph's first "nextExpectedRanges" entry ("START-" or "START-END") in an answer
// body; nothing when there is none.
std::optional<uint64_t> firstExpectedOffset(const std::string &body);

// Sends the file at `localPath` (UTF-8) through `session`, `chunkBytes` at a time straight from
// the disk: memory stays bounded by libcurl's buffers whatever the file's size. A failed chunk
// is sent again from where the service says it got to; an expired session starts over. A file
// that changes meanwhile is not stored. Empty on success, otherwise why it failed.
std::string uploadInChunks(UploadSession &session, const std::string &localPath, uint64_t chunkBytes,
			   const RetryLimits &retry, const TransferProgress &progress);

} // namespace kestrel
