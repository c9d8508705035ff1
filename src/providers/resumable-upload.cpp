#include "providers/resumable-upload.h"

#include "platform/file-state.h"
#include "providers/utf8-path.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace kestrel {

namespace {

// A session that expired or was lost server-side is opened anew this many times.
constexpr int kSessionRestarts = 2;

bool complete(const HttpResponse &answer)
{
	return answer.status == 200 || answer.status == 201;
}

bool sessionGone(const HttpResponse &answer)
{
	return answer.status == 404 || answer.status == 410;
}

bool sameState(const std::optional<platform::FileState> &a, const std::optional<platform::FileState> &b)
{
	return a && b && a->size == b->size && a->modified == b->modified;
}

std::string serviceText(const HttpResponse &answer)
{
	return "(" + std::to_string(answer.status) + "): " + answer.body;
}

// Decimal digits that fit in 64 bits, from `text[at]` to `end`.
std::optional<uint64_t> decimal(const std::string &text, size_t at, size_t end)
{
	if (end <= at || end - at > 19 || text.find_first_not_of("0123456789", at) < end)
		return std::nullopt;
	return std::stoull(text.substr(at, end - at));
}

} // namespace

std::optional<uint64_t> offsetAfterRange(const std::string &rangeHeader)
{
	const std::string prefix = "bytes=0-";
	if (rangeHeader.rfind(prefix, 0) != 0)
		return std::nullopt;
	const auto last = decimal(rangeHeader, prefix.size(), rangeHeader.size());
	return last ? std::optional<uint64_t>(*last + 1) : std::nullopt;
}

std::optional<uint64_t> firstExpectedOffset(const std::string &body)
{
	const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
	const auto ranges = answer.is_object() ? answer.find("nextExpectedRanges") : answer.end();
	if (!answer.is_object() || ranges == answer.end() || !ranges->is_array() || ranges->empty() ||
	    !(*ranges)[0].is_string())
		return std::nullopt;
	const std::string first = (*ranges)[0].get<std::string>();
	const size_t dash = first.find('-');
	return dash == std::string::npos ? std::nullopt : decimal(first, 0, dash);
}

std::string uploadInChunks(UploadSession &session, const std::string &localPath, uint64_t chunkBytes,
			   const RetryLimits &retry, const TransferProgress &progress)
{
	const auto before = platform::fileState(localPath);
	std::ifstream source(pathFromUtf8(localPath), std::ios::binary);
	if (!before || !source)
		return "Cannot read local file: " + localPath;
	const uint64_t size = before->size;
	const std::string changed = "it changed while it was uploaded (" + localPath + ")";
	// Chose this road for a larger file: one that is empty now was cut short meanwhile.
	if (size == 0)
		return changed;

	std::string error;
	std::string url = session.open(size, error);
	if (url.empty())
		return error;
	RetrySchedule schedule(retry);
	int restarts = 0;
	int stalls = 0;
	uint64_t offset = 0;
	while (true) {
		if (!sameState(platform::fileState(localPath), before)) {
			session.cancel(url);
			return changed;
		}
		const uint64_t length = std::min(chunkBytes, size - offset);
		source.clear();
		source.seekg(static_cast<std::streamoff>(offset));
		const uint64_t base = offset;
		const TransferProgress chunkProgress =
		    progress ? TransferProgress([&](uint64_t done, uint64_t) { progress(base + done, size); })
			     : nullptr;
		HttpResponse answer = session.sendChunk(url, source, offset, length, size, chunkProgress);
		if (!isTransientStatus(answer.status) && !sessionGone(answer) && !complete(answer) &&
		    !session.nextOffset(answer)) {
			session.cancel(url);
			return "Upload failed " + serviceText(answer);
		}
		// Where did the chunk get to? The service may hold part of it.
		while (isTransientStatus(answer.status)) {
			if (!schedule.waitBeforeRetry(answer.status, answer.header("Retry-After"))) {
				session.cancel(url);
				return "Upload failed " + serviceText(answer) + " after repeated tries";
			}
			answer = session.askProgress(url, size);
		}
		if (complete(answer)) {
			// Whatever the service took must be what the file still holds.
			if (!sameState(platform::fileState(localPath), before))
				return changed;
			if (progress)
				progress(size, size);
			return {};
		}
		if (sessionGone(answer)) {
			if (++restarts > kSessionRestarts)
				return "Upload failed: the service lost the upload session " +
				       serviceText(answer);
			url = session.open(size, error);
			if (url.empty())
				return error;
			offset = 0;
			continue;
		}
		const std::optional<uint64_t> next = session.nextOffset(answer);
		if (!next || *next > size || (*next == size && size > 0)) {
			session.cancel(url);
			return "Upload failed: the service reported an impossible offset " +
			       serviceText(answer);
		}
		// A service that keeps taking nothing is not waited on for ever.
		stalls = *next > base ? 0 : stalls + 1;
		if (stalls >= retry.attempts) {
			session.cancel(url);
			return "Upload failed: the service takes no more of the file " + serviceText(answer);
		}
		offset = *next;
	}
}

} // namespace kestrel
