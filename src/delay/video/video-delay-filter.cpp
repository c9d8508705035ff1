#include "delay/video/video-delay-filter.h"

#include "common/log.h"
#include "delay/delay-slider.h"
#include "delay/keys/key-list-property.h"
#include "delay/source-types.h"
#include "delay/video/buffer-status.h"
#include "delay/video/delay-playback.h"

#include <obs-module.h>
#include <util/platform.h>

#include <memory>
#include <string>
#include <thread>

namespace kestrel {

namespace {

constexpr const char *kBufferFpsKey = "buffer_fps";
constexpr const char *kBufferScaleKey = "buffer_scale";
constexpr const char *kQualityKey = "codec_quality";
constexpr const char *kFull444Key = "codec_full444";
constexpr const char *kEngineKey = "codec_engine";
constexpr const char *kMemoryKey = "codec_memory_mb";
static_assert(uint64_t{kMemoryBudgetMaxMB} << 20 == VideoDelayWorker::kRingCapBytes,
	      "the budget reaches the ring's cap and no further");
constexpr int64_t kDefaultKey = 86; // V

void onDelayKeyHotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	static_cast<VideoDelayFilter *>(data)->settings.hotkeyHeld.store(pressed, std::memory_order_relaxed);
}

const char *getName(void *)
{
	return "Screen Delay (video)";
}

const char *getCameraName(void *)
{
	return "Push-to-Delay (cámara)";
}

void update(void *data, obs_data_t *settings)
{
	applyVideoDelaySettings(*static_cast<VideoDelayFilter *>(data), settings);
}

void *create(obs_data_t *settings, obs_source_t *source)
{
	auto *filter = new VideoDelayFilter(source, VideoDelayKind::ScreenDelay, nullptr, nullptr);
	applyVideoDelaySettings(*filter, settings);
	if ((filter = startVideoDelay(filter)))
		KESTREL_LOG(Info, "video delay filter created (%.1fs, compressed ring)",
			    delaySeconds(*filter));
	return filter;
}

void *createCamera(obs_data_t *settings, obs_source_t *source)
{
	auto *filter =
	    new VideoDelayFilter(source, VideoDelayKind::PushToDelayCamera, "orv_push_to_delay_cam",
				 "Push-to-Delay cámara (mantener para mostrar la cámara demorada)");
	applyVideoDelaySettings(*filter, settings);
	if ((filter = startVideoDelay(filter)))
		KESTREL_LOG(Info, "camera push-to-delay filter created (%.1fs)", delaySeconds(*filter));
	return filter;
}

std::string cameraHelp(double delaySeconds)
{
	char delay[32];
	std::snprintf(delay, sizeof delay, "%.1f", delaySeconds);
	return std::string(
		   "Aplicá este filtro a la cámara que quieras usar como \"callout\" demorado (no tiene "
		   "que ser la del directo). Mientras MANTENÉS la tecla se GRABA la cámara; esa grabación "
		   "aparece DEMORADA ") +
	       delay +
	       "s después —justo cuando sale tu voz demorada, así cara y voz quedan sincronizadas— y "
	       "luego desaparece.\nPoné el MISMO delay y la MISMA tecla que en \"Push-to-Delay (mic)\".";
}

constexpr const char *kFilterHelp =
    "Los frames se comprimen (MJPEG, CPU en segundo plano) — 100% de resolución y 30-60 fps caben en "
    "unos cientos de MB de RAM.\nUsá el mismo delay en el filtro \"Screen Delay (audio)\" correspondiente.";

// The memory budget steers software H.264 only.
bool showEngineSettings(obs_properties_t *props, obs_property_t *, obs_data_t *settings)
{
	const bool softwareH264 = obs_data_get_int(settings, kEngineKey) == FrameCodec::kEngineSoftwareH264;
	obs_property_set_visible(obs_properties_get(props, kMemoryKey), softwareH264);
	return true;
}

// The live figures, as of the moment the sheet is opened.
void addBufferStatus(obs_properties_t *props, const VideoDelayFilter &filter)
{
	const VideoDelayWorker::Stats stats = filter.worker.stats();
	const uint64_t delayNs = filter.settings.delayNs.load();
	const std::string warning = capWarningLine(stats, delayNs, VideoDelayWorker::kRingCapBytes);
	const std::string text = bufferStatusLine(stats, delayNs) + (warning.empty() ? "" : "\n" + warning);
	obs_property_t *status = obs_properties_add_text(props, "buffer_status", text.c_str(), OBS_TEXT_INFO);
	if (!warning.empty())
		obs_property_text_set_info_type(status, OBS_TEXT_INFO_WARNING);
}

obs_properties_t *getProperties(void *data)
{
	const auto *filter = static_cast<const VideoDelayFilter *>(data);
	const bool pushMode = filter && filter->settings.pushMode.load();
	obs_properties_t *props = obs_properties_create();
	if (pushMode) {
		obs_property_t *keys =
		    obs_properties_add_list(props, kVideoKeyKey, "Tecla (mantener para grabar)",
					    OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
		fillKeyList(keys, filterKeyChoices());
	}
	addDelaySlider(props, kVideoDelayKey, "Delay");
	obs_property_t *fps = obs_properties_add_int_slider(props, kBufferFpsKey,
							    "Buffer FPS (tope; 60 = sin límite)", 1, 60, 1);
	obs_property_int_set_suffix(fps, " fps");
	obs_property_t *scale =
	    obs_properties_add_int_slider(props, kBufferScaleKey, "Buffer resolution", 10, 100, 5);
	obs_property_int_set_suffix(scale, " %");
	obs_property_t *engine = obs_properties_add_list(props, kEngineKey, "Codec del buffer",
							 OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
	obs_property_list_add_int(engine, "MJPEG (CPU) — compatible con todo", 0);
	obs_property_list_add_int(engine, "H.264 por hardware (GPU) — menos CPU/FPS", 1);
	obs_property_list_add_int(engine, "H.264 (CPU) — mínima RAM, delays largos", 2);
	obs_property_set_modified_callback(engine, showEngineSettings);
	obs_property_t *memory = obs_properties_add_int_slider(props, kMemoryKey, "Memoria máxima (MB)",
							       kMemoryBudgetMinMB, kMemoryBudgetMaxMB, 1);
	obs_property_int_set_suffix(memory, " MB");
	obs_properties_add_int_slider(props, kQualityKey, "Compresión (1 = máxima calidad, 10 = mínima RAM)",
				      1, 10, 1);
	obs_properties_add_bool(props, kFull444Key, "Color completo 4:4:4 (solo MJPEG; texto más nítido)");
	const std::string help = pushMode ? cameraHelp(delaySeconds(*filter)) : kFilterHelp;
	obs_properties_add_text(props, "info", help.c_str(), OBS_TEXT_INFO);
	if (filter)
		addBufferStatus(props, *filter);
	return props;
}

void videoTick(void *data, float)
{
	auto *filter = static_cast<VideoDelayFilter *>(data);
	filter->graphics.capturedThisTick = false;
	if (filter->isPlayback())
		lookUpUnresolvedClone(*filter);
	else if (filter->settings.pushMode.load(std::memory_order_relaxed))
		filter->hotkey.registerOnParentOf(filter->source);
}

void videoRender(void *data, gs_effect_t *)
{
	renderVideoDelay(*static_cast<VideoDelayFilter *>(data));
}

gs_color_space videoGetColorSpace(void *, size_t count, const gs_color_space *preferred)
{
	for (size_t i = 0; i < count; ++i)
		if (preferred[i] == GS_CS_SRGB)
			return GS_CS_SRGB;
	return count == 0 ? GS_CS_SRGB : preferred[0];
}

obs_source_info makeInfo()
{
	obs_source_info info =
	    sharedVideoDelayInfo("orv_screen_delay_video", OBS_SOURCE_TYPE_FILTER, OBS_SOURCE_VIDEO);
	info.get_name = getName;
	return info;
}

obs_source_info makeCameraInfo()
{
	obs_source_info info =
	    sharedVideoDelayInfo("orv_push_to_delay_video", OBS_SOURCE_TYPE_FILTER, OBS_SOURCE_VIDEO);
	info.get_name = getCameraName;
	info.create = createCamera;
	return info;
}

// The one place that asks how many threads the machine has.
FrameCodecOptions machineCodecOptions()
{
	FrameCodecOptions options;
	options.softwareH264Threads = softwareH264Threads(std::thread::hardware_concurrency());
	return options;
}

} // namespace

VideoDelayFilter::VideoDelayFilter(obs_source_t *source, VideoDelayKind kind, const char *hotkeyName,
				   const char *hotkeyDescription)
    : source(source), kind(kind), hotkey(hotkeyName, hotkeyDescription, onDelayKeyHotkey, this),
      worker(os_gettime_ns, machineCodecOptions())
{
	settings.pushMode.store(kind == VideoDelayKind::PushToDelayCamera);
}

// The push camera and the Delay Playback source reuse these very functions, so a change to the
// video delay shows in all three.
obs_source_info sharedVideoDelayInfo(const char *id, obs_source_type type, uint32_t flags)
{
	obs_source_info info{};
	info.id = id;
	info.type = type;
	info.output_flags = flags;
	info.create = create;
	info.destroy = destroyVideoDelay;
	info.get_defaults = setVideoDelayDefaults;
	info.get_properties = getProperties;
	info.update = update;
	info.video_tick = videoTick;
	info.video_render = videoRender;
	info.video_get_color_space = videoGetColorSpace;
	return info;
}

void setVideoDelayDefaults(obs_data_t *settings)
{
	obs_data_set_default_double(settings, kVideoDelayKey, kDefaultDelaySeconds);
	obs_data_set_default_int(settings, kBufferFpsKey, 60);
	obs_data_set_default_int(settings, kBufferScaleKey, 100);
	obs_data_set_default_int(settings, kQualityKey, 3);
	obs_data_set_default_bool(settings, kFull444Key, false);
	obs_data_set_default_int(settings, kEngineKey, FrameCodec::kEngineMjpeg);
	obs_data_set_default_int(settings, kMemoryKey, kMemoryBudgetDefaultMB);
	obs_data_set_default_int(settings, kVideoKeyKey, kDefaultKey);
}

// Nothing is flushed: a new delay applies to the ring at the worker's next pass, a new size or
// codec to the next frame.
void applyVideoDelaySettings(VideoDelayFilter &filter, obs_data_t *settings)
{
	const VideoDelayOptions options = VideoDelayOptions::fromSettings(
	    obs_data_get_double(settings, kVideoDelayKey), obs_data_get_int(settings, kBufferFpsKey),
	    obs_data_get_int(settings, kBufferScaleKey), obs_data_get_int(settings, kQualityKey),
	    obs_data_get_bool(settings, kFull444Key), obs_data_get_int(settings, kEngineKey),
	    obs_data_get_int(settings, kMemoryKey));
	filter.settings.delayNs.store(options.delayNs);
	filter.settings.frameIntervalNs.store(options.frameIntervalNs);
	filter.settings.bufferScale.store(options.bufferScale);
	filter.worker.applySettings(
	    {options.delayNs, options.quality, options.full444, options.engine, options.memoryBudgetBytes});
	if (filter.settings.pushMode.load())
		filter.settings.keyVk.store(static_cast<uint32_t>(obs_data_get_int(settings, kVideoKeyKey)));
}

VideoDelayFilter *startVideoDelay(VideoDelayFilter *filter)
{
	if (filter->worker.start())
		return filter;
	KESTREL_LOG(Error, "video delay: could not start its worker thread");
	delete filter;
	return nullptr;
}

double delaySeconds(const VideoDelayFilter &filter)
{
	return static_cast<double>(filter.settings.delayNs.load()) / 1e9;
}

// The worker is joined before any GPU object it might still be fed from is freed.
void destroyVideoDelay(void *data)
{
	auto *filter = static_cast<VideoDelayFilter *>(data);
	filter->hotkey.unregister();
	filter->worker.stop();
	destroyVideoDelayGpuObjects(*filter);
	delete filter;
}

const obs_source_info &videoDelaySourceInfo()
{
	static const obs_source_info info = makeInfo();
	return info;
}

const obs_source_info &pushToDelayCameraSourceInfo()
{
	static const obs_source_info info = makeCameraInfo();
	return info;
}

} // namespace kestrel
