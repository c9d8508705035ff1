#include "delay/audio/sidechain-ducker.h"

#include "audio-packets.h"
#include "delay/audio/audio-levels.h"
#include "delay/delays-disabled.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace kestrel {
namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kFrames = 480;
const float kThreshold = decibelsToGain(-45.0);
const float kDuckGain = decibelsToGain(-30.0);

SidechainDucker::Settings settings(double keyDelaySeconds, int64_t attackMs = 10, int64_t releaseMs = 150)
{
	return {kRate, keyDelaySeconds, -45.0, -30.0, attackMs, releaseMs};
}

// One packet of the ducked sound (full scale, so the output is the gain) and of the key.
class DuckingSession {
public:
	explicit DuckingSession(SidechainDucker &ducker) : ducker_(ducker) {}

	void key(float level, bool muted = false, size_t loudChannel = 0)
	{
		for (size_t c = 0; c < 2; ++c)
			std::fill(key_.channel(c).begin(), key_.channel(c).end(),
				  c == loudChannel ? level : 0.0f);
		ducker_.pushKey(key_.planes(), kFrames, muted);
	}

	// Returns the gains applied to the packet's samples.
	const std::vector<float> &sound(bool keyAttached = true, bool live = false)
	{
		std::fill(sound_.channel(0).begin(), sound_.channel(0).end(), 1.0f);
		ducker_.process(sound_.planes(), kFrames, keyAttached, live);
		return sound_.channel(0);
	}

	// A key packet followed by a sound packet, as OBS's audio thread delivers them.
	const std::vector<float> &tick(float keyLevel)
	{
		key(keyLevel);
		return sound();
	}

private:
	SidechainDucker &ducker_;
	test::PlanarPacket key_{2, kFrames};
	test::PlanarPacket sound_{1, kFrames};
};

class SidechainDuckerTest : public ::testing::Test {
protected:
	SidechainDucker ducker;
	DuckingSession session{ducker};
};

TEST_F(SidechainDuckerTest, WithoutAKeyTheSoundPassesAtUnityGain)
{
	ducker.configure(settings(0.0));
	for (int i = 0; i < 20; ++i)
		for (float gain : session.sound(false))
			ASSERT_EQ(gain, 1.0f);
	session.key(1.0f);
	EXPECT_EQ(session.sound(false).back(), 1.0f) << "a detached key is not consumed";
	EXPECT_EQ(ducker.queuedKeyFrames(), kFrames);
}

TEST_F(SidechainDuckerTest, KeyAtTheThresholdDoesNotDuckAndAboveItDoes)
{
	ducker.configure(settings(0.0, 0, 0));
	EXPECT_EQ(session.tick(kThreshold).front(), 1.0f);
	EXPECT_FLOAT_EQ(session.tick(std::nextafter(kThreshold, 1.0f)).front(), kDuckGain);
}

TEST_F(SidechainDuckerTest, InstantAttackAndReleaseJumpOnTheFirstSample)
{
	ducker.configure(settings(0.0, 0, 0));
	const std::vector<float> &ducked = session.tick(0.5f);
	EXPECT_FLOAT_EQ(ducked.front(), kDuckGain);
	EXPECT_FLOAT_EQ(ducked.back(), kDuckGain);
	EXPECT_EQ(session.tick(0.0f).front(), 1.0f);
}

TEST_F(SidechainDuckerTest, GainSlidesPerSampleWithAttackAndRelease)
{
	ducker.configure(settings(0.0));
	// 480 samples are one attack time constant (10 ms): about 63 % of the way down.
	const float afterAttack = session.tick(0.5f).back();
	EXPECT_NEAR(afterAttack, kDuckGain + (1.0f - kDuckGain) * std::exp(-1.0f), 0.002f);
	for (int i = 0; i < 20; ++i)
		session.tick(0.5f);
	EXPECT_NEAR(session.tick(0.5f).back(), kDuckGain, 1e-4f);
	// 150 ms release: a packet later the gain has barely begun to rise.
	const float afterRelease = session.tick(0.0f).back();
	EXPECT_NEAR(afterRelease, 1.0f - (1.0f - kDuckGain) * std::exp(-1.0f / 15.0f), 0.002f);
}

TEST_F(SidechainDuckerTest, LoudSampleOnAnyKeyChannelDucks)
{
	ducker.configure(settings(0.0, 0, 0));
	session.key(0.5f, false, 1);
	EXPECT_FLOAT_EQ(session.sound().front(), kDuckGain);
}

TEST_F(SidechainDuckerTest, MutedKeyContributesSilence)
{
	ducker.configure(settings(0.0, 0, 0));
	session.key(1.0f, true);
	EXPECT_EQ(session.sound().front(), 1.0f);
	EXPECT_EQ(ducker.queuedKeyFrames(), 0u) << "consumed like sound";
}

TEST_F(SidechainDuckerTest, KeyActsAfterItsDelayAndNeverWhileItsQueueIsShort)
{
	ducker.configure(settings(0.1, 0, 0)); // 4800 samples: ten packets
	EXPECT_EQ(session.tick(0.5f).front(), 1.0f);
	for (int i = 1; i < 10; ++i)
		ASSERT_EQ(session.tick(0.0f).front(), 1.0f) << "packet " << i;
	EXPECT_FLOAT_EQ(session.tick(0.0f).front(), kDuckGain) << "the loud packet, 0.1 s later";
	EXPECT_EQ(session.tick(0.0f).front(), 1.0f);
}

TEST_F(SidechainDuckerTest, DelaysDisabledPassesTheSoundAndRestartsTheGain)
{
	ducker.configure(settings(0.0, 0, 0));
	session.tick(0.5f);
	session.key(0.5f);
	for (float sample : session.sound(true, true))
		ASSERT_EQ(sample, 1.0f);
	EXPECT_EQ(ducker.gain(), 1.0f);
}

TEST_F(SidechainDuckerTest, KeyStaysInStepAfterAStretchWithoutConsumption)
{
	ducker.configure(settings(0.1, 0, 0));
	for (int i = 0; i < 300; ++i) { // 3 s with delays off: the key queue grows to its bound
		session.key(0.0f);
		session.sound(true, true);
	}
	EXPECT_EQ(ducker.queuedKeyFrames(), 4800u + 2 * kRate);
	EXPECT_EQ(session.tick(0.5f).front(), 1.0f);
	for (int i = 1; i < 10; ++i)
		ASSERT_EQ(session.tick(0.0f).front(), 1.0f) << "packet " << i;
	EXPECT_FLOAT_EQ(session.tick(0.0f).front(), kDuckGain) << "still 0.1 s, not 2 s more";
}

TEST_F(SidechainDuckerTest, StoredKeyDelaysOutsideTheSliderAreClamped)
{
	ducker.configure(settings(-1.0, 0, 0));
	EXPECT_FLOAT_EQ(session.tick(0.5f).front(), kDuckGain) << "a negative delay is no delay";
	ducker.configure(settings(std::nan(""), 0, 0));
	EXPECT_EQ(session.tick(0.5f).front(), 1.0f) << "NaN reads as the default 20 s";
}

TEST_F(SidechainDuckerTest, KeyCapturedOnAnotherThreadStaysBounded)
{
	ducker.configure(settings(0.05));
	std::atomic<bool> done{false};
	std::thread capture([&] {
		test::PlanarPacket key(2, kFrames);
		std::fill(key.channel(0).begin(), key.channel(0).end(), 0.5f);
		while (!done.load())
			ducker.pushKey(key.planes(), kFrames, false);
	});
	// Runs until the key has ducked at least once, however the two threads interleave.
	for (int i = 0; i < 2000 || ducker.gain() == 1.0f; ++i) {
		ASSERT_LT(i, 1'000'000);
		session.sound();
	}
	done.store(true);
	capture.join();
	EXPECT_LE(ducker.queuedKeyFrames(), 2400u + 2 * kRate);
}

// A loud key queued before a dump never ducks the sound after it.
TEST_F(SidechainDuckerTest, DumpDropsTheKeyLine)
{
	ducker.configure(settings(0.1, 0, 0));
	for (int i = 0; i < 5; ++i)
		session.tick(1.0f);
	delayDumps.fetch_add(1);
	for (int i = 0; i < 30; ++i)
		ASSERT_EQ(session.tick(0.0f).back(), 1.0f) << i;
}

} // namespace
} // namespace kestrel
