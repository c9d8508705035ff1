#include "delay/audio/push-to-delay-mic.h"

#include "../platform/scripted-keys.h"
#include "audio-packets.h"
#include "delay/delays-disabled.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace kestrel {
namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kFrames = 480; // 10 ms, so the key changes at exact times
constexpr uint32_t kV = 86, kTab = 9;

using Voice = std::function<float(uint64_t sample)>;

float ramp(uint64_t sample)
{
	return static_cast<float>(sample % 997 + 1) / 4000.0f;
}

// Plays a stereo voice (the right channel mirrors the left) through the filter packet by packet
// and keeps what comes out.
class MicSession {
public:
	explicit MicSession(PushToDelayMic &mic) : mic_(mic) {}

	void play(double seconds, bool held, const Voice &voice, bool live = false)
	{
		mic_.setHotkeyHeld(held);
		const uint64_t end = played_ + static_cast<uint64_t>(seconds * kRate);
		while (played_ < end) {
			for (uint32_t i = 0; i < kFrames; ++i) {
				packet_.channel(0)[i] = voice(played_ + i);
				packet_.channel(1)[i] = -voice(played_ + i);
			}
			mic_.process(packet_.planes(), kFrames, live);
			left_.insert(left_.end(), packet_.channel(0).begin(), packet_.channel(0).end());
			right_.insert(right_.end(), packet_.channel(1).begin(), packet_.channel(1).end());
			played_ += kFrames;
		}
	}

	const std::vector<float> &left() const { return left_; }
	const std::vector<float> &right() const { return right_; }
	float at(double second) const { return left_.at(static_cast<size_t>(second * kRate)); }

private:
	PushToDelayMic &mic_;
	test::PlanarPacket packet_{2, kFrames};
	uint64_t played_ = 0;
	std::vector<float> left_, right_;
};

class PushToDelayMicTest : public ::testing::Test {
protected:
	void configure(double delaySeconds, uint32_t key = kV, bool livePriority = true)
	{
		mic.configure({delaySeconds, key, livePriority, -15.0});
	}

	test::ScriptedKeys keys;
	PushToDelayMic mic{kRate};
	MicSession session{mic};
};

TEST_F(PushToDelayMicTest, KeyNeverHeldGivesTheInputClampedToFullScale)
{
	configure(1.0);
	const float pattern[] = {0.3f, -0.7f, 1.5f, -2.0f, 0.0f};
	const Voice voice = [&](uint64_t i) { return pattern[i % 5]; };
	session.play(2.0, false, voice);
	for (size_t i = 0; i < session.left().size(); ++i)
		ASSERT_EQ(session.left()[i], std::clamp(voice(i), -1.0f, 1.0f)) << i;
}

TEST_F(PushToDelayMicTest, ZeroDelayGivesTheHeldVoiceBackInTheSameSample)
{
	configure(0.0);
	session.play(0.5, true, [](uint64_t i) { return i % 2 ? 1.5f : ramp(i); });
	for (size_t i = 0; i < session.left().size(); ++i)
		ASSERT_EQ(session.left()[i], i % 2 ? 1.0f : ramp(i)) << i;
	EXPECT_EQ(mic.queuedFrames(), 0u);
}

TEST_F(PushToDelayMicTest, HalfSecondHoldWithTwoSecondDelayIsHeardFromTwoToTwoAndAHalfSeconds)
{
	configure(2.0, kV, false);
	session.play(1.0, false, ramp);
	session.play(0.5, true, ramp);
	session.play(3.0, false, ramp);
	const uint64_t press = kRate, release = press + kRate / 2, delay = 2 * kRate;
	for (uint64_t i = 0; i < session.left().size(); ++i) {
		float expected = ramp(i);
		if (i >= press && i < release)
			expected = 0.0f;
		else if (i >= press + delay && i < release + delay)
			expected = ramp(i - delay) + ramp(i);
		ASSERT_EQ(session.left()[i], expected) << i;
		ASSERT_EQ(session.right()[i], -expected) << i;
	}
}

TEST_F(PushToDelayMicTest, LivePriorityLowersTheDelayedVoiceWhileSpeakingLive)
{
	configure(2.0);
	session.play(3.0, true, [](uint64_t) { return 0.5f; });
	session.play(0.5, false, [](uint64_t) { return 0.1f; });
	session.play(1.5, false, [](uint64_t) { return 0.0f; });
	// Delayed voice 0.5 plays from 2 s to 5 s; the gain on it is what remains of it.
	const auto gainAt = [&](double second, float live) { return (session.at(second) - live) / 0.5f; };

	EXPECT_EQ(session.at(2.5), 0.5f) << "the held voice is not live, so it does not duck";
	EXPECT_GT(gainAt(3.01, 0.1f), 0.3f) << "the gain slides, it does not jump";
	EXPECT_NEAR(gainAt(3.08, 0.1f), 0.1778f, 0.003f) << "-15 dB within tens of milliseconds";
	EXPECT_NEAR(gainAt(3.49, 0.1f), 0.1778f, 0.001f);
	EXPECT_LT(gainAt(3.8, 0.0f), 0.3f) << "recovery takes several hundred milliseconds";
	EXPECT_GT(gainAt(4.9, 0.0f), 0.95f);
}

TEST_F(PushToDelayMicTest, WithoutLivePriorityTheDelayedVoiceKeepsItsLevel)
{
	configure(1.0, kV, false);
	session.play(1.0, true, [](uint64_t) { return 0.5f; });
	session.play(0.5, false, [](uint64_t) { return 0.1f; });
	EXPECT_EQ(session.at(1.3), 0.5f + 0.1f);
}

TEST_F(PushToDelayMicTest, DelaysDisabledLeavesTheVoiceLiveAndEmptiesTheLines)
{
	configure(1.0);
	session.play(0.5, true, ramp);
	session.play(
	    0.5, true, [](uint64_t i) { return i % 2 ? 1.5f : ramp(i); }, true);
	for (size_t i = kRate / 2; i < kRate; ++i)
		ASSERT_EQ(session.left()[i], i % 2 ? 1.5f : ramp(i)) << "untouched, not even clamped";
	EXPECT_EQ(mic.queuedFrames(), 0u);

	// What was recorded before the switch is gone: nothing delayed comes out afterwards.
	session.play(2.0, false, [](uint64_t) { return 0.0f; });
	for (size_t i = kRate; i < session.left().size(); ++i)
		ASSERT_EQ(session.left()[i], 0.0f) << i;
}

TEST_F(PushToDelayMicTest, PolledKeyRecordsLikeTheHotkeyAndNoKeyPollsNothing)
{
	configure(1.0, 0);
	keys.hold(kV);
	session.play(0.1, false, ramp);
	EXPECT_EQ(keys.polls(), 0);
	EXPECT_EQ(session.at(0.05), ramp(kRate / 20)) << "no key chosen: V does not record";

	// A stored code that no list offers is polled all the same, once per packet.
	configure(1.0, kTab);
	keys.hold(kTab);
	session.play(0.1, false, ramp);
	EXPECT_EQ(keys.polls(), 10);
	EXPECT_EQ(session.at(0.15), 0.0f) << "held: silent live";

	keys.release(kTab);
	session.play(0.1, true, ramp);
	EXPECT_EQ(session.at(0.25), 0.0f) << "the OBS hotkey records with the key up";
	EXPECT_EQ(keys.polls(), 10) << "a held hotkey needs no poll";
}

TEST_F(PushToDelayMicTest, LoweringTheDelayTakesEffectOnTheNextPacket)
{
	configure(2.0);
	session.play(3.0, true, ramp);
	ASSERT_EQ(session.at(2.5), ramp(kRate / 2));
	configure(0.5);
	session.play(1.0, true, ramp);
	for (size_t i = 3 * kRate; i < session.left().size(); ++i)
		ASSERT_EQ(session.left()[i], ramp(i - kRate / 2)) << i;
	EXPECT_EQ(mic.queuedFrames(), kRate / 2);
}

TEST_F(PushToDelayMicTest, RaisingTheDelayKeepsWhatWasRecordedAndPlaysItAtTheNewDelay)
{
	configure(0.5);
	session.play(0.2, true, [](uint64_t) { return 0.5f; });
	configure(1.0);
	session.play(1.5, false, [](uint64_t) { return 0.0f; });
	EXPECT_EQ(session.at(0.9), 0.0f);
	EXPECT_EQ(session.at(1.1), 0.5f);
	EXPECT_EQ(session.at(1.3), 0.0f);
}

TEST_F(PushToDelayMicTest, StoredDelaysOutsideTheSliderAreClamped)
{
	configure(-3.0);
	EXPECT_EQ(mic.delayFrames(), 0u);
	configure(1e9);
	EXPECT_EQ(mic.delayFrames(), 120u * kRate);
}

// What was said with the key held before a dump never comes out.
TEST_F(PushToDelayMicTest, DumpDropsTheHeldVoice)
{
	configure(1.0);
	session.play(0.5, true, ramp);
	delayDumps.fetch_add(1);
	session.play(1.5, false, [](uint64_t) { return 0.0f; });
	EXPECT_TRUE(
	    std::all_of(session.left().begin(), session.left().end(), [](float s) { return s == 0.0f; }));
}

} // namespace
} // namespace kestrel
