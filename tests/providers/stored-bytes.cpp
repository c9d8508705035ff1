#include "stored-bytes.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>

namespace kestrel::test {

void StoredBytes::append(std::string_view bytes)
{
	while (!bytes.empty()) {
		const uint64_t index = size_ / kBlock;
		const uint64_t at = size_ % kBlock;
		const size_t take = static_cast<size_t>(std::min<uint64_t>(kBlock - at, bytes.size()));
		const std::string_view piece = bytes.substr(0, take);
		const auto block = blocks_.find(index);
		if (block != blocks_.end() || piece.find_first_not_of('\0') != std::string_view::npos) {
			std::string &data = blocks_[index];
			data.resize(kBlock, '\0');
			data.replace(at, take, piece);
		}
		size_ += take;
		bytes.remove_prefix(take);
	}
}

void StoredBytes::truncate(uint64_t size)
{
	if (size >= size_)
		return;
	blocks_.erase(blocks_.lower_bound((size + kBlock - 1) / kBlock), blocks_.end());
	if (const auto last = blocks_.find(size / kBlock); last != blocks_.end())
		std::fill(last->second.begin() + static_cast<std::ptrdiff_t>(size % kBlock),
			  last->second.end(), '\0');
	size_ = size;
}

std::string StoredBytes::read(uint64_t offset, uint64_t length) const
{
	offset = std::min(offset, size_);
	length = std::min(length, size_ - offset);
	std::string out(length, '\0');
	for (uint64_t index = offset / kBlock; index * kBlock < offset + length; ++index) {
		const auto block = blocks_.find(index);
		if (block == blocks_.end())
			continue;
		const uint64_t from = std::max(offset, index * kBlock);
		const uint64_t to = std::min(offset + length, (index + 1) * kBlock);
		std::copy_n(block->second.data() + (from - index * kBlock), to - from,
			    out.data() + (from - offset));
	}
	return out;
}

Reply contentReply(const ReceivedRequest &request, const StoredBytes &bytes)
{
	uint64_t from = 0;
	const std::string range = request.header("Range");
	if (!range.empty() && std::sscanf(range.c_str(), "bytes=%" SCNu64 "-", &from) != 1)
		return {400, "bad range"};
	if (from > 0 && from >= bytes.size())
		return {416};
	const auto copy = std::make_shared<StoredBytes>(bytes);
	Reply reply{from > 0 ? 206 : 200};
	reply.bodyLength = bytes.size() - from;
	if (from > 0)
		reply.headers.push_back("Content-Range: bytes " + std::to_string(from) + "-" +
					std::to_string(bytes.size() - 1) + "/" +
					std::to_string(bytes.size()));
	reply.bodyPart = [copy, from](uint64_t offset, uint64_t length) {
		return copy->read(from + offset, length);
	};
	return reply;
}

std::optional<ContentRange> parseContentRange(const std::string &header)
{
	ContentRange range;
	if (std::sscanf(header.c_str(), "bytes */%" SCNu64, &range.total) == 1) {
		range.query = true;
		return range;
	}
	if (std::sscanf(header.c_str(), "bytes %" SCNu64 "-%" SCNu64 "/%" SCNu64, &range.first, &range.last,
			&range.total) == 3 &&
	    range.first <= range.last && range.last < range.total)
		return range;
	return std::nullopt;
}

} // namespace kestrel::test
