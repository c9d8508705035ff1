#include "delay/video/delay-playback.h"

#include "common/log.h"
#include "delay/delay-slider.h"
#include "delay/keys/key-list-property.h"
#include "delay/source-types.h"

#include <obs-module.h>
#include <obs.hpp>
#include <util/platform.h>

#include <cstring>
#include <memory>
#include <string>

namespace kestrel {

namespace {

constexpr const char *kPlaybackId = "orv_delay_playback";
constexpr const char *kCloneKey = "dpv_source";
constexpr const char *kModeKey = "dpv_mode";
constexpr const char *kGuideKey = "dp_guide";
constexpr int64_t kKeyMode = 1;
constexpr uint64_t kCloneLookupIntervalNs = 3'000'000'000;

// What may be cloned: named video inputs other than Delay Playback sources. Anything else named
// in the settings (a scene holding this source, another playback) could make a render loop.
bool isCloneable(obs_source_t *source)
{
	const char *name = obs_source_get_name(source);
	return (obs_source_get_output_flags(source) & OBS_SOURCE_VIDEO) &&
	       obs_source_get_type(source) == OBS_SOURCE_TYPE_INPUT &&
	       std::strcmp(obs_source_get_id(source), kPlaybackId) != 0 && name && *name;
}

OBSWeakSourceAutoRelease findClone(const std::string &name)
{
	if (name.empty())
		return nullptr;
	OBSSourceAutoRelease found = obs_get_source_by_name(name.c_str());
	return found && isCloneable(found) ? obs_source_get_weak_source(found) : nullptr;
}

// Publishes `weak` as the clone of `name` unless the name changed meanwhile; the reference that
// is let go is released outside the lock, when `weak` goes.
void publishClone(VideoDelayFilter &filter, const std::string &name, OBSWeakSourceAutoRelease weak)
{
	std::lock_guard guard(filter.clone.lock);
	if (filter.clone.name == name)
		std::swap(filter.clone.source, weak);
}

void chooseClone(VideoDelayFilter &filter, const std::string &name)
{
	{
		std::lock_guard guard(filter.clone.lock);
		if (name == filter.clone.name)
			return;
		filter.clone.name = name;
		filter.clone.lastLookupNs = os_gettime_ns();
	}
	publishClone(filter, name, nullptr);
	publishClone(filter, name, findClone(name));
	filter.settings.resetPending.store(true);
}

uint32_t playbackSize(void *data, uint32_t (*baseSize)(obs_source_t *), uint32_t guideSize)
{
	auto *filter = static_cast<VideoDelayFilter *>(data);
	OBSSourceAutoRelease clone;
	{
		std::lock_guard guard(filter->clone.lock);
		clone = obs_weak_source_get_source(filter->clone.source);
	}
	if (const uint32_t size = clone ? baseSize(clone) : 0)
		return size;
	return filter->settings.showGuide.load() ? guideSize : 0;
}

bool addCloneChoice(void *list, obs_source_t *source)
{
	if (isCloneable(source)) {
		const char *name = obs_source_get_name(source);
		obs_property_list_add_string(static_cast<obs_property_t *>(list), name, name);
	}
	return true;
}

const char *delayPlaybackName(void *)
{
	return "Delay Playback (cámara demorada)";
}

void updateDelayPlayback(void *data, obs_data_t *settings)
{
	auto *filter = static_cast<VideoDelayFilter *>(data);
	const bool keyMode = obs_data_get_int(settings, kModeKey) == kKeyMode;
	if (filter->settings.pushMode.exchange(keyMode) != keyMode)
		filter->settings.resetPending.store(true);
	applyVideoDelaySettings(*filter, settings);
	const char *name = obs_data_get_string(settings, kCloneKey);
	chooseClone(*filter, name ? name : "");
	filter->settings.showGuide.store(obs_data_get_bool(settings, kGuideKey));
}

void *createDelayPlayback(obs_data_t *settings, obs_source_t *source)
{
	auto *filter = new VideoDelayFilter(source, VideoDelayKind::Playback, "orv_delay_playback_key",
					    "Grabar cámara demorada (mantener)");
	updateDelayPlayback(filter, settings);
	if (!(filter = startVideoDelay(filter)))
		return nullptr;
	filter->hotkey.registerOn(source);
	std::string name;
	{
		std::lock_guard guard(filter->clone.lock);
		name = filter->clone.name;
	}
	KESTREL_LOG(Info, "Delay Playback source created (%.1fs, '%s')", delaySeconds(*filter), name.c_str());
	return filter;
}

uint32_t delayPlaybackWidth(void *data)
{
	return playbackSize(data, obs_source_get_base_width, kGuideWidth);
}

uint32_t delayPlaybackHeight(void *data)
{
	return playbackSize(data, obs_source_get_base_height, kGuideHeight);
}

void delayPlaybackDefaults(obs_data_t *settings)
{
	setVideoDelayDefaults(settings);
	obs_data_set_default_bool(settings, kGuideKey, true);
	obs_data_set_default_int(settings, kModeKey, kKeyMode);
}

obs_properties_t *delayPlaybackProperties(void *)
{
	obs_properties_t *props = obs_properties_create();
	obs_property_t *clones = obs_properties_add_list(props, kCloneKey, "Cámara/fuente a duplicar",
							 OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
	obs_property_list_add_string(clones, "— elegí una fuente —", "");
	obs_enum_sources(addCloneChoice, clones);
	obs_property_t *modes = obs_properties_add_list(props, kModeKey, "Cuándo mostrarla",
							OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
	obs_property_list_add_int(modes, "Siempre (cámara demorada constante)", 0);
	obs_property_list_add_int(modes, "Solo mientras mantengo la tecla", kKeyMode);
	obs_property_t *keys =
	    obs_properties_add_list(props, kVideoKeyKey, "Tecla (para el modo \"con la tecla\")",
				    OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
	fillKeyList(keys, filterKeyChoices());
	addDelaySlider(props, kVideoDelayKey, "Delay");
	obs_properties_add_bool(props, kGuideKey,
				"Mostrar recuadro guía cuando no hay video (apagalo antes de salir en vivo)");
	obs_properties_add_text(
	    props, "dpv_info",
	    "Elegí tu cámara arriba: esta fuente la CLONA con delay y la podés achicar/mover como cualquier "
	    "fuente.\n• \"Siempre\": muestra la cámara demorada de forma constante (sin apretar nada).\n• "
	    "\"Solo "
	    "con la tecla\": aparece solo mientras mantenés la tecla (ideal para callouts; usá el mismo "
	    "delay/tecla "
	    "que \"Push-to-Delay (mic)\" para que voz y cámara salgan juntas).\nLa cámara elegida tiene que "
	    "estar "
	    "activa en alguna escena para poder capturarla.",
	    OBS_TEXT_INFO);
	return props;
}

obs_source_info makePlaybackInfo()
{
	obs_source_info info = sharedVideoDelayInfo(kPlaybackId, OBS_SOURCE_TYPE_INPUT,
						    OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW);
	info.get_name = delayPlaybackName;
	info.create = createDelayPlayback;
	info.get_width = delayPlaybackWidth;
	info.get_height = delayPlaybackHeight;
	info.get_defaults = delayPlaybackDefaults;
	info.get_properties = delayPlaybackProperties;
	info.update = updateDelayPlayback;
	return info;
}

} // namespace

void lookUpUnresolvedClone(VideoDelayFilter &filter)
{
	std::string name;
	{
		std::lock_guard guard(filter.clone.lock);
		if (filter.clone.name.empty() ||
		    (filter.clone.source && !obs_weak_source_expired(filter.clone.source)))
			return;
		const uint64_t now = os_gettime_ns();
		if (now - filter.clone.lastLookupNs < kCloneLookupIntervalNs)
			return;
		filter.clone.lastLookupNs = now;
		name = filter.clone.name;
	}
	if (OBSWeakSourceAutoRelease found = findClone(name))
		publishClone(filter, name, std::move(found));
}

const obs_source_info &delayPlaybackSourceInfo()
{
	static const obs_source_info info = makePlaybackInfo();
	return info;
}

} // namespace kestrel
