#include "delay/audio/audio-delay-line.h"

#include "audio-packets.h"

#include "delay/delays-disabled.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kestrel {
namespace {

using Result = AudioDelayLine::Result;
using test::NumberedPackets;

constexpr uint32_t kRate = 48000;
constexpr uint32_t kFrames = 1024;

constexpr uint64_t kPacketNs = kFrames * 1'000'000'000ull / kRate;

// A numbered stream with contiguous timestamps unless a test moves `time`.
struct Stream {
	Stream(size_t channels) : packets(channels, kFrames) {}

	Result feed(AudioDelayLine &line, bool live = false)
	{
		input = packets.next();
		const Result result = line.process(input, kFrames, time, live);
		time += kPacketNs;
		return result;
	}

	// Feeds packets until the line delays; returns how many the fill swallowed.
	int fill(AudioDelayLine &line)
	{
		int nulls = 0;
		while (feed(line) == Result::Filling)
			++nulls;
		return nulls;
	}

	// Index of the first sample of the packet just fed, in channel 0's numbering.
	float firstOfLast() const { return static_cast<float>(packets.produced() - kFrames); }

	NumberedPackets packets;
	const float *const *input = nullptr;
	uint64_t time = 1'000'000'000;
};

TEST(AudioDelayLine, ZeroDelayReturnsEveryPacketAtOnce)
{
	AudioDelayLine line(kRate);
	line.setDelaySeconds(0.0);
	Stream stream(2);
	for (int i = 0; i < 5; ++i) {
		ASSERT_EQ(stream.feed(line), Result::Delayed);
		EXPECT_NE(line.output(0), stream.input[0]);
		EXPECT_EQ(line.output(0)[0], stream.input[0][0]);
		EXPECT_EQ(line.output(1)[kFrames - 1], stream.input[1][kFrames - 1]);
	}
}

TEST(AudioDelayLine, OneSecondFillsFor47PacketsThenHoldsSteadyLength)
{
	AudioDelayLine line(kRate);
	line.setDelaySeconds(1.0);
	EXPECT_EQ(line.delayFrames(), 48000u);
	Stream stream(2);
	EXPECT_EQ(stream.fill(line), 47);
	EXPECT_EQ(line.output(0)[0], 0.0f) << "the 48th packet plays the first";
	EXPECT_EQ(line.output(1)[0], 1'000'000.0f);
	EXPECT_EQ(line.queuedFrames(), 48128u);
	for (int i = 0; i < 200; ++i) {
		ASSERT_EQ(stream.feed(line), Result::Delayed);
		ASSERT_EQ(line.queuedFrames(), 48128u);
		ASSERT_EQ(line.output(0)[0], stream.firstOfLast() - 48128);
		ASSERT_EQ(line.output(1)[kFrames - 1], stream.input[1][kFrames - 1] - 48128);
	}
}

TEST(AudioDelayLine, TimestampJumpsRestartTheFillButAOneSecondGapDoesNot)
{
	AudioDelayLine line(kRate);
	line.setDelaySeconds(0.1); // 4800 samples: the 6th packet reaches 4800 + 1024
	Stream stream(1);
	EXPECT_EQ(stream.fill(line), 5);

	stream.time += 1'000'000'000ull - kPacketNs;
	EXPECT_EQ(stream.feed(line), Result::Delayed) << "exactly one second later";
	stream.time += 1'000'000'001ull - kPacketNs;
	EXPECT_EQ(stream.feed(line), Result::Filling) << "more than one second later";
	EXPECT_EQ(stream.fill(line), 4);

	stream.time -= 10 * kPacketNs;
	EXPECT_EQ(stream.feed(line), Result::Filling) << "time went backwards";
}

TEST(AudioDelayLine, ChannelLayoutChangeRestartsTheFill)
{
	AudioDelayLine line(kRate);
	line.setDelaySeconds(0.1);
	Stream stereo(2), mono(1);
	stereo.fill(line);
	mono.time = stereo.time;
	EXPECT_EQ(mono.feed(line), Result::Filling);
	EXPECT_EQ(line.channels(), 1u);
	EXPECT_EQ(mono.fill(line), 4);
}

TEST(AudioDelayLine, LiveModePassesInputAndResumesDelayWithoutSilence)
{
	AudioDelayLine line(kRate);
	line.setDelaySeconds(0.1);
	Stream stream(2);
	stream.fill(line);
	for (int i = 0; i < 10; ++i) {
		ASSERT_EQ(stream.feed(line, true), Result::PassThrough);
		ASSERT_EQ(line.queuedFrames(), 4800u);
	}
	// Back on: the queue already holds the last 4800 samples, so sound from 0.1 s ago plays.
	ASSERT_EQ(stream.feed(line), Result::Delayed);
	EXPECT_EQ(line.output(0)[0], stream.firstOfLast() - 4800);
}

// A dump, in either switch state, drops the queue: silence until the first sample fed after it
// is one delay old, never a sample from before.
TEST(AudioDelayLine, DumpPlaysSilenceUntilSoundFromAfterItIsDue)
{
	for (bool live : {false, true}) {
		AudioDelayLine line(kRate);
		line.setDelaySeconds(0.1);
		Stream stream(2);
		stream.fill(line);
		delayDumps.fetch_add(1);
		ASSERT_EQ(stream.feed(line, live), live ? Result::PassThrough : Result::Delayed);
		const float firstAfter = stream.firstOfLast();
		int silent = 0;
		while (stream.feed(line) == Result::Delayed && line.output(0)[kFrames - 1] == 0.0f)
			++silent;
		EXPECT_EQ(silent, 4) << live; // the 6th packet from the dump brings the queue past 4800
		EXPECT_EQ(line.output(1)[kFrames - 1], 1'000'000.0f + firstAfter + kFrames - 1) << live;
	}
}

TEST(AudioDelayLine, ChangingTheDelayRestartsTheFillAtTheNewLength)
{
	AudioDelayLine line(kRate);
	line.setDelaySeconds(1.0);
	Stream stream(2);
	stream.fill(line);
	line.setDelaySeconds(0.1);
	EXPECT_EQ(stream.fill(line), 5);
	EXPECT_EQ(line.queuedFrames(), 5120u);
	EXPECT_EQ(line.output(0)[0], stream.firstOfLast() - 5120);
}

TEST(AudioDelayLine, StoredDelaysOutsideTheSliderAreClamped)
{
	AudioDelayLine line(kRate);
	line.setDelaySeconds(-5.0);
	EXPECT_EQ(line.delayFrames(), 0u);
	line.setDelaySeconds(1e12);
	EXPECT_EQ(line.delayFrames(), 120u * kRate);
	line.setDelaySeconds(std::numeric_limits<double>::quiet_NaN());
	EXPECT_EQ(line.delayFrames(), 20u * kRate);
	line.setDelaySeconds(std::numeric_limits<double>::infinity());
	EXPECT_EQ(line.delayFrames(), 120u * kRate);
}

TEST(AudioDelayLine, PacketWithoutPlanesPassesUnchanged)
{
	AudioDelayLine line(kRate);
	const float *none[8] = {};
	EXPECT_EQ(line.process(none, kFrames, 0, false), Result::PassThrough);
}

} // namespace
} // namespace kestrel
