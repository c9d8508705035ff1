#include "delay/audio/audio-delay-line.h"
#include "delay/audio/push-to-delay-mic.h"
#include "delay/audio/sidechain-ducker.h"

#include "audio-packets.h"
#include "failing-heap.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

// Everything the audio threads call runs on a heap that fails every allocation: the delays fill
// from empty and then delay, the push-to-delay key is polled, the ducking key comes and goes,
// all from storage made when they were configured.
TEST(AudioThreadHeap, FillingAndDelayingNeverAllocate)
{
	constexpr uint32_t kRate = 48000, kFrames = 1024;
	AudioDelayLine line(kRate);
	line.setDelaySeconds(2.0);
	PushToDelayMic mic(kRate);
	mic.configure({2.0, PushToDelayMic::kDefaultKey, true, -15.0});
	SidechainDucker ducker;
	ducker.configure({kRate, 2.0, -45.0, -30.0, 10, 150});
	test::PlanarPacket packet(2, kFrames);
	std::fill(packet.channel(0).begin(), packet.channel(0).end(), 0.5f);

	const test::FailingHeap heap;
	int delayed = 0;
	for (int i = 0; i < 200; ++i) {
		mic.setHotkeyHeld(i % 50 < 25);
		delayed += line.process(packet.planes(), kFrames, i * 21'333'333ull, i % 40 == 0) ==
			   AudioDelayLine::Result::Delayed;
		mic.process(packet.planes(), kFrames, false);
		ducker.pushKey(packet.planes(), kFrames, i % 7 == 0);
		ducker.process(packet.planes(), kFrames, true, false);
	}
	EXPECT_GT(delayed, 50);
}

} // namespace
} // namespace kestrel
