#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace kestrel {

// One compressed frame waiting out the delay.
struct RingPacket {
	std::vector<uint8_t> bytes;
	uint64_t timestamp = 0; // capture time of the frame it encodes
	bool keyFrame = true;   // decodes without the packets before it
};

// The delay's packets in capture order, with the place of the next one to decode. A packet that
// is not a key frame needs every packet back to its key frame decoded before it, so packets are
// decoded in order, each once, and dropped a whole group at a time: decoding always restarts at a
// key frame. When every packet is a key frame this is simply "decode the newest due packet".
class PacketRing {
public:
	static bool isDue(uint64_t timestamp, uint64_t now, uint64_t delayNs)
	{
		return now >= timestamp && now - timestamp >= delayNs;
	}

	void push(RingPacket packet);
	// Forgets everything; decoding starts again at the next key frame pushed.
	void clear();

	// Drops every group older than the newest due key frame: none of it can be shown any more.
	void expire(uint64_t now, uint64_t delayNs);
	// Drops the oldest groups while the ring holds more than `capBytes` and a later group is
	// left; returns how many packets went.
	size_t dropOldestGroupsOver(uint64_t capBytes);

	// The next packet to decode when it is due, else null. Packets cut off from their key frame
	// are passed over.
	const RingPacket *nextDue(uint64_t now, uint64_t delayNs);
	void markDecoded();
	// A key frame that fails is tried again on the next pass; a later packet of a group cannot
	// be, as the decoder has moved on, so the rest of its group is passed over.
	void markFailed();

	bool empty() const { return packets_.empty(); }
	size_t size() const { return packets_.size(); }
	uint64_t bytes() const { return bytes_; }
	// Capture time between the oldest and the newest packet held.
	uint64_t spanNs() const;
	// The highest bit rate at which frames captured from `now` on keep the ring within
	// `budgetBytes`, when each packet is held until `holdNs` after its capture: the packets held
	// now still count until they leave. With an empty ring, simply the budget over the hold.
	uint64_t bitRateWithin(uint64_t budgetBytes, uint64_t now, uint64_t holdNs) const;
	bool frontIsDue(uint64_t now, uint64_t delayNs) const
	{
		return !packets_.empty() && isDue(packets_.front().timestamp, now, delayNs);
	}

private:
	void dropFront(size_t count);

	std::deque<RingPacket> packets_;
	uint64_t bytes_ = 0;
	size_t decodeAt_ = 0; // packets before it have been decoded
	bool awaitingKeyFrame_ = true;
};

} // namespace kestrel
