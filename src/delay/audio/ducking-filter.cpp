#include "delay/audio/obs-audio.h"
#include "delay/audio/sidechain-ducker.h"
#include "delay/delay-slider.h"
#include "delay/delays-disabled.h"
#include "delay/source-types.h"

#include <obs-module.h>
#include <obs.hpp>
#include <util/platform.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace kestrel {

namespace {

constexpr const char *kSidechainKey = "duck_sidechain";
constexpr const char *kKeyDelayKey = "duck_key_delay_s";
constexpr const char *kThresholdKey = "duck_threshold_db";
constexpr const char *kAmountKey = "duck_amount_db";
constexpr const char *kAttackKey = "duck_attack_ms";
constexpr const char *kReleaseKey = "duck_release_ms";
constexpr const char *kNoKey = "none";
constexpr uint64_t kLookupIntervalNs = 3'000'000'000;

struct DuckingFilter {
	explicit DuckingFilter(obs_source_t *source) : source(source), ducker(obsOutputChannels()) {}

	obs_source_t *source;
	SidechainDucker ducker;

	// Never held together with the ducker's key lock, nor across OBS calls.
	std::mutex sidechainLock;
	OBSWeakSourceAutoRelease sidechainRef;
	std::atomic<bool> keyAttached{false}; // follows sidechainRef, for the audio thread to read

	// Both with sidechainLock held.
	OBSWeakSourceAutoRelease takeKey()
	{
		keyAttached = false;
		return std::move(sidechainRef);
	}
	void attachKey(obs_weak_source_t *key)
	{
		sidechainRef = key;
		keyAttached = key != nullptr;
	}
	std::string sidechainName;
	uint64_t lastLookup = 0;
};

void captureKey(void *data, obs_source_t *, const audio_data *audio, bool muted)
{
	static_cast<DuckingFilter *>(data)->ducker.pushKey(
	    reinterpret_cast<const float *const *>(audio->data), audio->frames, muted);
}

void detach(DuckingFilter *filter, OBSWeakSourceAutoRelease weak)
{
	if (OBSSourceAutoRelease key = obs_weak_source_get_source(weak))
		obs_source_remove_audio_capture_callback(key, captureKey, filter);
}

void releaseKey(DuckingFilter *filter)
{
	OBSWeakSourceAutoRelease weak;
	{
		std::lock_guard lock(filter->sidechainLock);
		weak = filter->takeKey();
	}
	detach(filter, std::move(weak));
}

const char *getName(void *)
{
	return "Screen Delay Ducking (audio)";
}

// The old key goes and the new name comes in one locked section, so a video tick cannot attach
// the old key in between and keep it for good.
void chooseKey(DuckingFilter *filter, const std::string &choice)
{
	const std::string name = choice == kNoKey ? std::string() : choice;
	OBSWeakSourceAutoRelease old;
	{
		std::lock_guard lock(filter->sidechainLock);
		if (name == filter->sidechainName)
			return;
		old = filter->takeKey();
		filter->sidechainName = name;
		filter->lastLookup = os_gettime_ns() - kLookupIntervalNs; // the next tick looks at once
	}
	detach(filter, std::move(old));
}

void update(void *data, obs_data_t *settings)
{
	auto *filter = static_cast<DuckingFilter *>(data);
	filter->ducker.configure({
	    .sampleRate = obsOutputSampleRate(),
	    .keyDelaySeconds = obs_data_get_double(settings, kKeyDelayKey),
	    .thresholdDb = obs_data_get_double(settings, kThresholdKey),
	    .amountDb = obs_data_get_double(settings, kAmountKey),
	    .attackMs = obs_data_get_int(settings, kAttackKey),
	    .releaseMs = obs_data_get_int(settings, kReleaseKey),
	});
	chooseKey(filter, obs_data_get_string(settings, kSidechainKey));
}

// The name to look up now, or empty: at most one lookup every 3 s while no key is attached.
// A key source that was removed counts as not attached, so one created again under the same
// name is found.
std::string keyToLookUp(DuckingFilter *filter)
{
	std::lock_guard lock(filter->sidechainLock);
	if (filter->sidechainName.empty())
		return {};
	if (filter->sidechainRef && obs_weak_source_expired(filter->sidechainRef))
		filter->takeKey();
	const uint64_t now = os_gettime_ns();
	if (filter->sidechainRef || now - filter->lastLookup <= kLookupIntervalNs)
		return {};
	filter->lastLookup = now;
	return filter->sidechainName;
}

void videoTick(void *data, float)
{
	auto *filter = static_cast<DuckingFilter *>(data);
	const std::string name = keyToLookUp(filter);
	if (name.empty())
		return;
	OBSSourceAutoRelease key = obs_get_source_by_name(name.c_str());
	if (!key)
		return;
	// The callback goes in before the reference is published: whoever takes the reference
	// then always has a callback to remove.
	obs_source_add_audio_capture_callback(key, captureKey, filter);
	{
		std::lock_guard lock(filter->sidechainLock);
		if (filter->sidechainName == name && !filter->sidechainRef) {
			filter->attachKey(obs_source_get_weak_source(key));
			return;
		}
	}
	obs_source_remove_audio_capture_callback(key, captureKey, filter);
}

void *create(obs_data_t *settings, obs_source_t *source)
{
	auto filter = std::make_unique<DuckingFilter>(source);
	update(filter.get(), settings);
	return filter.release();
}

void destroy(void *data)
{
	auto *filter = static_cast<DuckingFilter *>(data);
	if (!filter)
		return;
	releaseKey(filter);
	delete filter;
}

void getDefaults(obs_data_t *settings)
{
	obs_data_set_default_string(settings, kSidechainKey, kNoKey);
	obs_data_set_default_double(settings, kKeyDelayKey, kDefaultDelaySeconds);
	obs_data_set_default_double(settings, kThresholdKey, -45.0);
	obs_data_set_default_double(settings, kAmountKey, -30.0);
	obs_data_set_default_int(settings, kAttackKey, 10);
	obs_data_set_default_int(settings, kReleaseKey, 150);
}

// Every source with sound except the one this filter sits on, in OBS's order.
void addKeySources(obs_property_t *list, const obs_source_t *parent)
{
	struct Listing {
		obs_property_t *list;
		const obs_source_t *parent;
	} listing{list, parent};
	obs_enum_sources(
	    [](void *param, obs_source_t *source) {
		    auto *listing = static_cast<Listing *>(param);
		    if (source != listing->parent &&
			(obs_source_get_output_flags(source) & OBS_SOURCE_AUDIO)) {
			    const char *name = obs_source_get_name(source);
			    obs_property_list_add_string(listing->list, name, name);
		    }
		    return true;
	    },
	    &listing);
}

obs_properties_t *getProperties(void *data)
{
	auto *filter = static_cast<DuckingFilter *>(data);
	obs_properties_t *props = obs_properties_create();
	obs_property_t *key = obs_properties_add_list(props, kSidechainKey, "Micrófono (clave)",
						      OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
	obs_property_list_add_string(key, "None", kNoKey);
	addKeySources(key, filter ? obs_filter_get_parent(filter->source) : nullptr);
	addDelaySlider(props, kKeyDelayKey, "Delay de la clave (= delay del audio)");
	obs_properties_add_float_slider(props, kThresholdKey, "Umbral", -60.0, 0.0, 0.5);
	obs_properties_add_float_slider(props, kAmountKey, "Atenuación", -60.0, 0.0, 0.5);
	obs_properties_add_int_slider(props, kAttackKey, "Ataque", 0, 500, 1);
	obs_properties_add_int_slider(props, kReleaseKey, "Liberación", 0, 2000, 10);
	obs_properties_add_text(
	    props, "duck_info",
	    "Poné este filtro DESPUÉS de \"Screen Delay (audio)\" y elegí tu micrófono como "
	    "clave. Igualá el delay de la clave al delay del audio.",
	    OBS_TEXT_INFO);
	return props;
}

obs_audio_data *filterAudio(void *data, obs_audio_data *audio)
{
	auto *filter = static_cast<DuckingFilter *>(data);
	filter->ducker.process(floatPlanes(audio->data), audio->frames, filter->keyAttached,
			       delaysDisabled.load(std::memory_order_relaxed));
	return audio;
}

obs_source_info makeInfo()
{
	obs_source_info info{};
	info.id = "orv_screen_delay_duck";
	info.type = OBS_SOURCE_TYPE_FILTER;
	info.output_flags = OBS_SOURCE_AUDIO;
	info.get_name = getName;
	info.create = create;
	info.destroy = destroy;
	info.get_defaults = getDefaults;
	info.get_properties = getProperties;
	info.update = update;
	info.video_tick = videoTick;
	info.filter_audio = filterAudio;
	return info;
}

} // namespace

const obs_source_info &duckingSourceInfo()
{
	static const obs_source_info info = makeInfo();
	return info;
}

} // namespace kestrel
