#include "delay/video/packet-ring.h"

#include <algorithm>
#include <utility>

namespace kestrel {

void PacketRing::push(RingPacket packet)
{
	bytes_ += packet.bytes.size();
	packets_.push_back(std::move(packet));
}

void PacketRing::clear()
{
	packets_.clear();
	bytes_ = 0;
	decodeAt_ = 0;
	awaitingKeyFrame_ = true;
}

void PacketRing::dropFront(size_t count)
{
	for (size_t i = 0; i < count; ++i) {
		bytes_ -= packets_.front().bytes.size();
		packets_.pop_front();
	}
	decodeAt_ = decodeAt_ > count ? decodeAt_ - count : 0;
}

void PacketRing::expire(uint64_t now, uint64_t delayNs)
{
	size_t newestDueKey = 0;
	for (size_t i = 0; i < packets_.size() && isDue(packets_[i].timestamp, now, delayNs); ++i)
		if (packets_[i].keyFrame)
			newestDueKey = i;
	dropFront(newestDueKey);
}

size_t PacketRing::dropOldestGroupsOver(uint64_t capBytes)
{
	size_t dropped = 0;
	while (bytes_ > capBytes) {
		size_t nextKey = 1;
		while (nextKey < packets_.size() && !packets_[nextKey].keyFrame)
			++nextKey;
		if (nextKey >= packets_.size())
			break;
		dropFront(nextKey);
		dropped += nextKey;
	}
	return dropped;
}

const RingPacket *PacketRing::nextDue(uint64_t now, uint64_t delayNs)
{
	while (awaitingKeyFrame_ && decodeAt_ < packets_.size() && !packets_[decodeAt_].keyFrame)
		++decodeAt_;
	if (decodeAt_ >= packets_.size() || !isDue(packets_[decodeAt_].timestamp, now, delayNs))
		return nullptr;
	awaitingKeyFrame_ = false;
	return &packets_[decodeAt_];
}

void PacketRing::markDecoded()
{
	++decodeAt_;
}

void PacketRing::markFailed()
{
	if (decodeAt_ >= packets_.size() || packets_[decodeAt_].keyFrame)
		return;
	awaitingKeyFrame_ = true;
	++decodeAt_;
}

uint64_t PacketRing::spanNs() const
{
	if (packets_.size() < 2 || packets_.back().timestamp < packets_.front().timestamp)
		return 0;
	return packets_.back().timestamp - packets_.front().timestamp;
}

uint64_t PacketRing::bitRateWithin(uint64_t budgetBytes, uint64_t now, uint64_t holdNs) const
{
	const auto bitsPerSecond = [](uint64_t bytes, uint64_t ns) {
		return static_cast<double>(bytes) * 8e9 / static_cast<double>(std::max<uint64_t>(ns, 1));
	};
	double rate = bitsPerSecond(budgetBytes, holdNs);
	// Newest first: each packet bounds what may be spent until it leaves, with everything
	// captured after it still held then.
	uint64_t heldThen = 0;
	for (auto packet = packets_.rbegin(); packet != packets_.rend(); ++packet) {
		heldThen += packet->bytes.size();
		const uint64_t leaves = packet->timestamp + holdNs;
		if (heldThen >= budgetBytes)
			return 0;
		if (leaves > now)
			rate = std::min(rate, bitsPerSecond(budgetBytes - heldThen, leaves - now));
	}
	return static_cast<uint64_t>(std::min(rate, 1e18)); // a tiny hold would overflow the cast
}

} // namespace kestrel
