#include "filtered-source.h"
#include "obs-harness.h"

#include <gtest/gtest.h>
#include <util/platform.h>

#include <cmath>

namespace kestrel::test {
namespace {

constexpr uint64_t kSecond = 1'000'000'000;
constexpr double kKeyDelay = 0.5;
constexpr float kProgramLevel = 0.5f;
constexpr float kDuckedLevel = 0.05f; // -20 dB

OBSDataAutoRelease duckingSettings(const char *keyName)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_string(settings, "duck_sidechain", keyName);
	obs_data_set_double(settings, "duck_key_delay_s", kKeyDelay);
	obs_data_set_double(settings, "duck_amount_db", -20.0);
	return settings;
}

// Lowered below `level`, but not silent: a mix tick that OBS filled with silence is no ducking.
std::function<bool(float)> isDucked(float level)
{
	return [level](float sample) { return std::fabs(sample) < level && std::fabs(sample) > 0.01f; };
}

uint64_t at(uint64_t time, double seconds)
{
	return static_cast<uint64_t>(static_cast<int64_t>(time) + static_cast<int64_t>(seconds * kSecond));
}

// Feeds the key and the ducked sound side by side in real time, as OBS's sources would arrive.
// Returns the timestamp of the key's first packet.
uint64_t feedBoth(AudioFeeder &key, float keyLevel, AudioFeeder &program, double seconds)
{
	const uint64_t first = key.push(keyLevel);
	program.push(kProgramLevel);
	const auto packets = static_cast<int>(std::ceil(seconds * kSampleRate / 1024));
	for (int i = 1; i < packets; ++i) {
		key.push(keyLevel);
		program.push(kProgramLevel);
	}
	return first;
}

// The key is a second real source, created only after the filter chose its name; the filter's
// source is the only one in OBS's mix, so the mix shows the ducking.
TEST(DuckingInObs, KeyCreatedLaterAttachesAndDucksAfterItsDelay)
{
	if (!ObsHarness::hasVideo())
		GTEST_SKIP() << "the key is looked up from video ticks, and there is no video here";
	FilteredSource program("orv_screen_delay_duck", duckingSettings("Kestrel key mic"));
	program.attachFilter();
	MixCapture mix;
	AudioFeeder programFeed(program.source());
	programFeed.pushFor(0.3, kProgramLevel);

	const uint64_t created = os_gettime_ns();
	NamedSource mic("Kestrel key mic");
	AudioFeeder keyFeed(mic.get());
	feedBoth(keyFeed, 0.5f, programFeed, 4.5);
	const uint64_t ducked = mix.firstSampleTime(isDucked(0.25f), created);
	ASSERT_NE(ducked, 0u) << "the key never ducked the sound";
	EXPECT_GT(ducked, at(created, kKeyDelay)) << "nothing ducks before the key's delay";
	EXPECT_LT(ducked, at(created, 3.0 + kKeyDelay + 0.3)) << "attached within about 3 s";
	EXPECT_NEAR(mix.meanLevel(at(ducked, 0.1), at(ducked, 0.6)), kDuckedLevel, 0.005);

	// Quiet key: the sound recovers; a burst on the key ducks it one key delay later.
	feedBoth(keyFeed, 0.0f, programFeed, 1.5);
	const uint64_t burst = feedBoth(keyFeed, 0.5f, programFeed, 0.3);
	feedBoth(keyFeed, 0.0f, programFeed, 1.0);
	EXPECT_NEAR(mix.meanLevel(at(burst, -0.3), burst), kProgramLevel, 0.01);
	const uint64_t dip = mix.firstSampleTime(isDucked(0.4f), burst);
	ASSERT_NE(dip, 0u);
	// The key and the sound are separate sources that OBS places on its mix timeline each on its
	// own, so they line up to a few packets, not to the sample.
	const double lag = static_cast<double>(dip - burst) / kSecond;
	EXPECT_GT(lag, kKeyDelay - 0.025);
	EXPECT_LT(lag, kKeyDelay + 0.06);

	// A muted key counts as silence.
	obs_source_set_muted(mic.get(), true);
	const uint64_t muted = feedBoth(keyFeed, 0.5f, programFeed, 1.2);
	EXPECT_NEAR(mix.meanLevel(at(muted, 0.3), at(muted, 1.1)), kProgramLevel, 0.01);
}

} // namespace
} // namespace kestrel::test
