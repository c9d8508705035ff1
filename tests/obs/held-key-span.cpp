#include "held-key-span.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel::test {

namespace {

constexpr float kLiveVoice = 0.2f;
constexpr float kHeldVoice = 0.5f;

} // namespace

OBSDataAutoRelease pushToDelaySettings(int key)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_double(settings, "delay_s", kHeldDelaySeconds);
	obs_data_set_int(settings, "pd_vk", key);
	// Without live priority the delayed voice keeps its level, so the edges are sharp.
	obs_data_set_bool(settings, "pd_live_priority", false);
	return settings;
}

HeldKeySpan measureHeldKeySpan(obs_source_t *mic, const std::function<void(bool)> &setKey)
{
	MixCapture mix;
	// Ahead of time: the key changes while the feeding waits, and the mix must not run dry.
	AudioFeeder feeder(mic, 1024, kFeedLeadNs);
	feeder.pushFor(0.5, kLiveVoice);
	setKey(true);
	const uint64_t pressed = feeder.push(kHeldVoice);
	for (int i = 1; i < kHeldPackets; ++i)
		feeder.push(kHeldVoice);
	setKey(false);
	feeder.pushFor(1.5, kLiveVoice);

	// Live: the voice at 0.2 falls silent while held. Delayed: the held voice (0.5) over the
	// live one (0.2) makes 0.7.
	const auto sampleAt = [&](uint64_t time) -> int64_t {
		if (time == 0)
			return -1;
		return (static_cast<int64_t>(time) - static_cast<int64_t>(pressed)) * kSampleRate /
		       1'000'000'000;
	};
	const auto silent = [](float s) { return std::fabs(s) < 0.1f; };
	const auto delayed = [](float s) { return s > 0.6f; };
	HeldKeySpan span;
	const uint64_t silentFrom = mix.firstSampleTime(silent, pressed - 100'000'000);
	span.liveSilentFrom = sampleAt(silentFrom);
	span.liveSilentTo = sampleAt(mix.firstSampleTime([&](float s) { return !silent(s); }, silentFrom));
	const uint64_t delayedFrom = mix.firstSampleTime(delayed, pressed);
	span.delayedFrom = sampleAt(delayedFrom);
	span.delayedTo = sampleAt(mix.firstSampleTime([&](float s) { return !delayed(s); }, delayedFrom));
	return span;
}

void expectHeldSpanDelayedExactly(const HeldKeySpan &span)
{
	const int64_t held = kHeldPackets * 1024;
	const auto delay = static_cast<int64_t>(kHeldDelaySeconds * kSampleRate);
	EXPECT_NEAR(span.liveSilentFrom, 0, 2);
	EXPECT_NEAR(span.liveSilentTo, held, 2);
	EXPECT_NEAR(span.delayedFrom, delay, 2);
	EXPECT_NEAR(span.delayedTo, delay + held, 2);
}

} // namespace kestrel::test
