#include "delay/audio/audio-delay-line.h"
#include "delay/audio/obs-audio.h"
#include "delay/delay-slider.h"
#include "delay/delay-time.h"
#include "delay/delays-disabled.h"
#include "delay/source-types.h"

#include <obs-module.h>

#include <memory>

namespace kestrel {

namespace {

constexpr const char *kDelayKey = "delay_s";

struct AudioDelayFilter {
	AudioDelayFilter(uint32_t sampleRate, size_t channels) : line(sampleRate, channels) {}

	AudioDelayLine line;
	obs_audio_data output{};
};

const char *getName(void *)
{
	return "Screen Delay (audio)";
}

void update(void *data, obs_data_t *settings)
{
	static_cast<AudioDelayFilter *>(data)->line.setDelaySeconds(obs_data_get_double(settings, kDelayKey));
}

void *create(obs_data_t *settings, obs_source_t *)
{
	auto filter = std::make_unique<AudioDelayFilter>(obsOutputSampleRate(), obsOutputChannels());
	update(filter.get(), settings);
	return filter.release();
}

void destroy(void *data)
{
	delete static_cast<AudioDelayFilter *>(data);
}

void getDefaults(obs_data_t *settings)
{
	obs_data_set_default_double(settings, kDelayKey, kDefaultDelaySeconds);
}

obs_properties_t *getProperties(void *)
{
	obs_properties_t *props = obs_properties_create();
	addDelaySlider(props, kDelayKey, "Delay");
	obs_properties_add_text(
	    props, "info",
	    "Set the SAME delay as the matching \"Screen Delay (video)\" filter so picture "
	    "and sound stay in sync.",
	    OBS_TEXT_INFO);
	return props;
}

obs_audio_data *filterAudio(void *data, obs_audio_data *audio)
{
	auto *filter = static_cast<AudioDelayFilter *>(data);
	const float *const *planes = floatPlanes(audio->data);
	const bool live = delaysDisabled.load(std::memory_order_relaxed);
	switch (filter->line.process(planes, audio->frames, audio->timestamp, live)) {
	case AudioDelayLine::Result::PassThrough:
		return audio;
	case AudioDelayLine::Result::Filling:
		return nullptr;
	case AudioDelayLine::Result::Delayed:
		break;
	}
	obs_audio_data &out = filter->output;
	for (size_t c = 0; c < MAX_AV_PLANES; ++c) {
		const bool used = c < filter->line.channels();
		out.data[c] =
		    used ? reinterpret_cast<uint8_t *>(const_cast<float *>(filter->line.output(c))) : nullptr;
	}
	out.frames = audio->frames;
	out.timestamp = audio->timestamp;
	return &out;
}

obs_source_info makeInfo()
{
	obs_source_info info{};
	info.id = "orv_screen_delay_audio";
	info.type = OBS_SOURCE_TYPE_FILTER;
	info.output_flags = OBS_SOURCE_AUDIO;
	info.get_name = getName;
	info.create = create;
	info.destroy = destroy;
	info.get_defaults = getDefaults;
	info.get_properties = getProperties;
	info.update = update;
	info.filter_audio = filterAudio;
	return info;
}

} // namespace

const obs_source_info &audioDelaySourceInfo()
{
	static const obs_source_info info = makeInfo();
	return info;
}

} // namespace kestrel
