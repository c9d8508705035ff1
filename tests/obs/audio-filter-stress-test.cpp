// The audio filters driven through their OBS callbacks from several threads at once, as OBS
// does: one thread plays OBS's audio thread, others change every setting, tick video and
// deliver the ducking key. libobs runs with audio only (it still wants an X display) and the
// filters are registered from this program, so the sanitizer builds run it without the module.
#include "delay/delays-disabled.h"
#include "delay/source-types.h"

#include "../platform/scripted-keys.h"
#include "obs-shutdown.h"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace kestrel::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kRate = 48000;
constexpr auto kRunTime = std::chrono::milliseconds(1500);
constexpr const char *kInputId = "kestrel_stress_input";
constexpr const char *kKeyName = "Kestrel stress key";

class AudioOnlyObs : public ::testing::Environment {
public:
	void SetUp() override
	{
		ASSERT_TRUE(obs_startup("en-US", nullptr, nullptr));
		obs_audio_info audio{kRate, SPEAKERS_STEREO};
		ASSERT_TRUE(obs_reset_audio(&audio));
		obs_source_info input{};
		input.id = kInputId;
		input.type = OBS_SOURCE_TYPE_INPUT;
		input.output_flags = OBS_SOURCE_AUDIO;
		input.get_name = [](void *) { return "Kestrel stress input"; };
		input.create = [](obs_data_t *, obs_source_t *source) -> void * { return source; };
		input.destroy = [](void *) {};
		obs_register_source(&input);
		for (const obs_source_info *info :
		     {&audioDelaySourceInfo(), &duckingSourceInfo(), &pushToDelayMicSourceInfo()})
			obs_register_source(info);
	}
	void TearDown() override { shutDownObs(); }
};
const auto *const kObs = ::testing::AddGlobalTestEnvironment(new AudioOnlyObs);

// A stereo packet of random sound, of a random size up to past the filters' largest piece.
struct Packet {
	obs_audio_data audio{};
	std::vector<float> left, right;

	void fill(std::mt19937 &random, uint64_t timestamp)
	{
		const uint32_t frames = random() % 8 ? 1024 : random() % 16000;
		std::uniform_real_distribution<float> level(-1.5f, 1.5f);
		left.resize(frames);
		right.resize(frames);
		for (uint32_t i = 0; i < frames; ++i) {
			left[i] = level(random);
			right[i] = level(random);
		}
		audio = {};
		audio.data[0] = reinterpret_cast<uint8_t *>(left.data());
		audio.data[1] = reinterpret_cast<uint8_t *>(right.data());
		audio.frames = frames;
		audio.timestamp = timestamp;
	}
};

// A filter instance created through OBS, whose callbacks the test calls as OBS's threads would.
class Filter {
public:
	Filter(const obs_source_info &info, obs_data_t *settings)
	    : info_(info), source_(obs_source_create_private(info.id, "stress", settings))
	{
	}
	void *data() const { return obs_obj_get_data(source_); }
	void update(obs_data_t *settings) { obs_source_update(source_, settings); }
	obs_audio_data *filterAudio(obs_audio_data *audio) { return info_.filter_audio(data(), audio); }
	void videoTick() { info_.video_tick(data(), 0.016f); }

private:
	const obs_source_info &info_;
	OBSSourceAutoRelease source_;
};

// Settings are mostly short delays, where a change races the packet in flight most often, and
// sometimes anything up to the slider's end.
double randomDelay(std::mt19937 &random)
{
	const double span = random() % 4 ? 0.3 : 120.0;
	return std::uniform_real_distribution<double>(0.0, span)(random);
}

// Feeds packets on this thread until the time is up while `change` runs on another, and checks
// every packet the filter gives back.
void stress(Filter &filter, const std::function<void(std::mt19937 &, obs_data_t *)> &change)
{
	const auto end = Clock::now() + kRunTime;
	std::thread settings([&] {
		std::mt19937 random(2);
		while (Clock::now() < end) {
			OBSDataAutoRelease data = obs_data_create();
			change(random, data);
			filter.update(data);
			delaysDisabled = random() % 8 == 0;
		}
		delaysDisabled = false;
	});
	std::mt19937 random(1);
	Packet packet;
	uint64_t timestamp = 1'000'000'000, packets = 0;
	while (Clock::now() < end) {
		packet.fill(random, timestamp);
		timestamp += packet.audio.frames * 1'000'000'000ull / kRate;
		const obs_audio_data *out = filter.filterAudio(&packet.audio);
		++packets;
		if (!out)
			continue;
		ASSERT_LE(out->frames, packet.audio.frames);
		for (size_t c = 0; c < 2; ++c)
			for (uint32_t i = 0; i < out->frames; ++i)
				ASSERT_TRUE(std::isfinite(reinterpret_cast<const float *>(out->data[c])[i]));
	}
	settings.join();
	EXPECT_GT(packets, 100u);
}

TEST(AudioFilterStress, AudioDelay)
{
	Filter filter(audioDelaySourceInfo(), nullptr);
	stress(filter, [](std::mt19937 &random, obs_data_t *data) {
		obs_data_set_double(data, "delay_s", randomDelay(random));
	});
}

TEST(AudioFilterStress, PushToDelayMic)
{
	ScriptedKeys keys;
	Filter filter(pushToDelayMicSourceInfo(), nullptr);
	stress(filter, [&](std::mt19937 &random, obs_data_t *data) {
		const uint32_t key = random() % 3 ? 86 : 0;
		obs_data_set_double(data, "delay_s", randomDelay(random));
		obs_data_set_int(data, "pd_vk", key);
		obs_data_set_bool(data, "pd_live_priority", random() % 2);
		obs_data_set_double(data, "pd_duck_db", -60.0 * (random() % 121) / 120.0);
		if (random() % 2)
			keys.hold(86);
		else
			keys.release(86);
	});
}

// A named input whose sound reaches the ducking filter through OBS's capture callback.
class KeySource {
public:
	KeySource() : source_(obs_source_create(kInputId, kKeyName, nullptr, nullptr)) {}
	~KeySource() { obs_source_remove(source_); }

	void push(float level, uint64_t timestamp)
	{
		std::fill(plane_.begin(), plane_.end(), level);
		obs_source_audio audio{};
		audio.data[0] = audio.data[1] = reinterpret_cast<const uint8_t *>(plane_.data());
		audio.frames = static_cast<uint32_t>(plane_.size());
		audio.speakers = SPEAKERS_STEREO;
		audio.format = AUDIO_FORMAT_FLOAT_PLANAR;
		audio.samples_per_sec = kRate;
		audio.timestamp = timestamp;
		obs_source_output_audio(source_, &audio);
	}

private:
	OBSSourceAutoRelease source_;
	std::vector<float> plane_ = std::vector<float>(1024);
};

TEST(AudioFilterStress, Ducking)
{
	KeySource key;
	Filter filter(duckingSourceInfo(), nullptr);
	std::atomic<bool> done{false};
	std::thread ticks([&] {
		while (!done)
			filter.videoTick();
	});
	std::thread keyFeed([&] {
		for (uint64_t t = 1'000'000'000; !done; t += 21'333'333)
			key.push(t % 3 ? 0.5f : 0.0f, t);
	});
	stress(filter, [](std::mt19937 &random, obs_data_t *data) {
		const char *keys[] = {"none", kKeyName, "Kestrel missing key"};
		obs_data_set_string(data, "duck_sidechain", keys[random() % 3]);
		obs_data_set_double(data, "duck_key_delay_s", randomDelay(random));
		obs_data_set_double(data, "duck_threshold_db", -60.0 * (random() % 121) / 120.0);
		obs_data_set_double(data, "duck_amount_db", -60.0 * (random() % 121) / 120.0);
		obs_data_set_int(data, "duck_attack_ms", random() % 501);
		obs_data_set_int(data, "duck_release_ms", random() % 2001);
	});
	done = true;
	ticks.join();
	keyFeed.join();
}

// Video ticks look the key up while the user picks another: whatever the tick was doing, once
// "None" is chosen no key ducks any more.
TEST(DuckingKeyChoice, TheLastChoiceWinsOverALookupInFlight)
{
	KeySource key;
	OBSDataAutoRelease chooseKey = obs_data_create(), chooseNone = obs_data_create();
	for (obs_data_t *data : {chooseKey.Get(), chooseNone.Get()}) {
		obs_data_set_double(data, "duck_key_delay_s", 0.0);
		obs_data_set_int(data, "duck_attack_ms", 0);
	}
	obs_data_set_string(chooseKey, "duck_sidechain", kKeyName);
	obs_data_set_string(chooseNone, "duck_sidechain", "none");
	// Created without settings of its own: OBS would keep and change the object it is given.
	Filter filter(duckingSourceInfo(), nullptr);
	filter.update(chooseNone);
	std::atomic<bool> done{false};
	std::thread ticks([&] {
		while (!done)
			filter.videoTick();
	});
	std::vector<float> sound(1024);
	uint64_t timestamp = 1'000'000'000, rounds = 0;
	for (const auto end = Clock::now() + kRunTime; Clock::now() < end; ++rounds) {
		filter.update(chooseKey);
		filter.update(chooseNone);
		key.push(1.0f, timestamp += 21'333'333);
		std::fill(sound.begin(), sound.end(), 1.0f);
		obs_audio_data audio{};
		audio.data[0] = reinterpret_cast<uint8_t *>(sound.data());
		audio.frames = static_cast<uint32_t>(sound.size());
		filter.filterAudio(&audio);
		ASSERT_EQ(sound.back(), 1.0f) << "the old key still ducks after round " << rounds;
	}
	done = true;
	ticks.join();
}

} // namespace
} // namespace kestrel::test
