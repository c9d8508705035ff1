#include "delay/audio/obs-audio.h"
#include "delay/audio/push-to-delay-mic.h"
#include "delay/delay-slider.h"
#include "delay/delays-disabled.h"
#include "delay/keys/key-list-property.h"
#include "delay/keys/source-hotkey.h"
#include "delay/source-types.h"

#include <obs-module.h>

#include <memory>

namespace kestrel {

namespace {

constexpr const char *kDelayKey = "delay_s";
constexpr const char *kKeyKey = "pd_vk";
constexpr const char *kLivePriorityKey = "pd_live_priority";
constexpr const char *kDuckKey = "pd_duck_db";
constexpr double kDefaultDuckDb = -15.0;

void onHotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed);

struct PushToDelayMicFilter {
	PushToDelayMicFilter(obs_source_t *source, uint32_t sampleRate) : source(source), mic(sampleRate) {}

	obs_source_t *source;
	PushToDelayMic mic;
	SourceHotkey hotkey{"orv_push_to_delay", "Push-to-Delay (mantener para enviar la voz al delay)",
			    onHotkey, this};
};

const char *getName(void *)
{
	return "Push-to-Delay (mic)";
}

void update(void *data, obs_data_t *settings)
{
	static_cast<PushToDelayMicFilter *>(data)->mic.configure({
	    .delaySeconds = obs_data_get_double(settings, kDelayKey),
	    .key = static_cast<uint32_t>(obs_data_get_int(settings, kKeyKey)),
	    .livePriority = obs_data_get_bool(settings, kLivePriorityKey),
	    .duckDecibels = obs_data_get_double(settings, kDuckKey),
	});
}

void onHotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	static_cast<PushToDelayMicFilter *>(data)->mic.setHotkeyHeld(pressed);
}

void *create(obs_data_t *settings, obs_source_t *source)
{
	auto filter = std::make_unique<PushToDelayMicFilter>(source, obsOutputSampleRate());
	update(filter.get(), settings);
	return filter.release();
}

// The hotkey goes on the microphone the filter sits on (see SourceHotkey).
void videoTick(void *data, float)
{
	auto *filter = static_cast<PushToDelayMicFilter *>(data);
	filter->hotkey.registerOnParentOf(filter->source);
}

void destroy(void *data)
{
	delete static_cast<PushToDelayMicFilter *>(data);
}

void getDefaults(obs_data_t *settings)
{
	obs_data_set_default_double(settings, kDelayKey, kDefaultDelaySeconds);
	obs_data_set_default_int(settings, kKeyKey, PushToDelayMic::kDefaultKey);
	obs_data_set_default_bool(settings, kLivePriorityKey, true);
	obs_data_set_default_double(settings, kDuckKey, kDefaultDuckDb);
}

obs_properties_t *getProperties(void *)
{
	obs_properties_t *props = obs_properties_create();
	addDelaySlider(props, kDelayKey, "Delay");
	obs_property_t *keys = obs_properties_add_list(props, kKeyKey, "Tecla push-to-delay",
						       OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
	fillKeyList(keys, pushToDelayKeyChoices());
	obs_properties_add_bool(props, kLivePriorityKey,
				"Priorizar voz en vivo (baja la voz demorada mientras hablás)");
	obs_property_t *duck =
	    obs_properties_add_float_slider(props, kDuckKey, "Cuánto baja la voz demorada", -60.0, 0.0, 0.5);
	obs_property_float_set_suffix(duck, " dB");
	obs_properties_add_text(
	    props, "pd_info",
	    "Aplicalo al micrófono y elegí arriba tu tecla de push-to-talk del juego (funciona global, con "
	    "el "
	    "juego en foco). Mientras la mantenés, tu voz se silencia en vivo y sale demorada. Igualá el "
	    "delay al del video/audio.\n"
	    "También podés asignar un atajo extra en OBS → Ajustes → Atajos.\n"
	    "Con \"Priorizar voz en vivo\", si hablás en vivo mientras suena una llamada demorada, esa "
	    "llamada baja de volumen para no pisarte.",
	    OBS_TEXT_INFO);
	return props;
}

obs_audio_data *filterAudio(void *data, obs_audio_data *audio)
{
	static_cast<PushToDelayMicFilter *>(data)->mic.process(
	    floatPlanes(audio->data), audio->frames, delaysDisabled.load(std::memory_order_relaxed));
	return audio;
}

obs_source_info makeInfo()
{
	obs_source_info info{};
	info.id = "orv_push_to_delay";
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

const obs_source_info &pushToDelayMicSourceInfo()
{
	static const obs_source_info info = makeInfo();
	return info;
}

} // namespace kestrel
