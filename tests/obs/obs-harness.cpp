#include "obs-harness.h"

#include "obs-shutdown.h"

#include <obs-nix-platform.h>
#include <util/platform.h>

#include <X11/Xlib.h>

#include <graphics/vec4.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace kestrel::test {

namespace {

obs_module_t *kestrel = nullptr;
bool videoRunning = false;
Display *display = nullptr;

const char *testSourceName(void *)
{
	return "Kestrel test audio input";
}

void *testSourceCreate(obs_data_t *, obs_source_t *source)
{
	return source;
}

void testSourceDestroy(void *) {}

void *testVideoCreate(obs_data_t *, obs_source_t *)
{
	return new TestPicture;
}

void testVideoDestroy(void *data)
{
	delete static_cast<TestPicture *>(data);
}

void testVideoTick(void *data, float)
{
	auto *picture = static_cast<TestPicture *>(data);
	const uint32_t tick = picture->tick.fetch_add(1) + 1;
	if (picture->cycle.load())
		picture->color.store(kPalette[tick % kPalette.size()]);
}

void testVideoRender(void *data, gs_effect_t *)
{
	auto *picture = static_cast<TestPicture *>(data);
	gs_effect_t *solid = obs_get_base_effect(OBS_EFFECT_SOLID);
	vec4 color;
	vec4_from_rgba(&color, picture->color.load());
	gs_effect_set_vec4(gs_effect_get_param_by_name(solid, "color"), &color);
	while (gs_effect_loop(solid, "Solid"))
		gs_draw_sprite(nullptr, 0, picture->width.load(), picture->height.load());
}

uint32_t testVideoWidth(void *data)
{
	return static_cast<TestPicture *>(data)->width.load();
}

uint32_t testVideoHeight(void *data)
{
	return static_cast<TestPicture *>(data)->height.load();
}

void registerTestVideoSource()
{
	obs_source_info info{};
	info.id = "kestrel_test_video_input";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW;
	info.get_name = [](void *) { return "Kestrel test video input"; };
	info.create = testVideoCreate;
	info.destroy = testVideoDestroy;
	info.video_tick = testVideoTick;
	info.video_render = testVideoRender;
	info.get_width = testVideoWidth;
	info.get_height = testVideoHeight;
	obs_register_source(&info);
}

void registerTestAudioSource()
{
	obs_source_info info{};
	info.id = "kestrel_test_audio_input";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_AUDIO;
	info.get_name = testSourceName;
	info.create = testSourceCreate;
	info.destroy = testSourceDestroy;
	obs_register_source(&info);
}

bool resetAudio()
{
	obs_audio_info audio{};
	audio.samples_per_sec = kSampleRate;
	audio.speakers = SPEAKERS_STEREO;
	return obs_reset_audio(&audio);
}

bool resetVideo(uint32_t width = 640, uint32_t height = 360, uint32_t fps = 60)
{
	obs_video_info video{};
	video.graphics_module = "libobs-opengl";
	video.fps_num = fps;
	video.fps_den = 1;
	video.base_width = video.output_width = width;
	video.base_height = video.output_height = height;
	video.output_format = VIDEO_FORMAT_RGBA;
	video.adapter = 0;
	video.gpu_conversion = true;
	video.colorspace = VIDEO_CS_709;
	video.range = VIDEO_RANGE_FULL;
	video.scale_type = OBS_SCALE_BICUBIC;
	return obs_reset_video(&video) == OBS_VIDEO_SUCCESS;
}

} // namespace

bool ObsHarness::start(std::string &error)
{
	display = XOpenDisplay(nullptr);
	if (display) {
		obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
		obs_set_nix_platform_display(display);
	}
	if (!obs_startup("en-US", nullptr, nullptr)) {
		error = "obs_startup failed";
		return false;
	}
	if (!resetAudio()) {
		error = "obs_reset_audio failed";
		return false;
	}
	videoRunning = display && resetVideo();
	registerTestAudioSource();
	registerTestVideoSource();

	if (obs_open_module(&kestrel, KESTREL_MODULE_PATH, KESTREL_MODULE_DATA) != MODULE_SUCCESS) {
		error = "obs_open_module failed for " KESTREL_MODULE_PATH;
		return false;
	}
	if (!obs_init_module(kestrel)) {
		error = "obs_init_module failed";
		return false;
	}
	return true;
}

void ObsHarness::stop()
{
	shutDownObs();
	if (display)
		XCloseDisplay(display);
	display = nullptr;
	kestrel = nullptr;
}

bool ObsHarness::setVideo(uint32_t width, uint32_t height, uint32_t fps)
{
	return videoRunning && resetVideo(width, height, fps);
}

bool ObsHarness::loadObsPlugin(const char *name)
{
	const std::string binary = std::string("/usr/lib/x86_64-linux-gnu/obs-plugins/") + name + ".so";
	const std::string data = std::string("/usr/share/obs/obs-plugins/") + name;
	obs_module_t *module = nullptr;
	return obs_open_module(&module, binary.c_str(), data.c_str()) == MODULE_SUCCESS &&
	       obs_init_module(module);
}

obs_module_t *ObsHarness::kestrelModule()
{
	return kestrel;
}

bool ObsHarness::hasVideo()
{
	return videoRunning;
}

const char *ObsHarness::testAudioSourceId()
{
	return "kestrel_test_audio_input";
}

const char *ObsHarness::testVideoSourceId()
{
	return "kestrel_test_video_input";
}

TestPicture &testPictureOf(obs_source_t *testVideoSource)
{
	return *static_cast<TestPicture *>(obs_obj_get_data(testVideoSource));
}

size_t nearestPaletteColour(const uint8_t *rgb)
{
	size_t best = 0;
	int bestDistance = INT32_MAX;
	for (size_t i = 0; i <= kPalette.size(); ++i) {
		const uint32_t colour = i < kPalette.size() ? kPalette[i] : 0;
		int distance = 0;
		for (int c = 0; c < 3; ++c) {
			const int difference = rgb[c] - static_cast<int>((colour >> (8 * c)) & 0xff);
			distance += difference * difference;
		}
		if (distance < bestDistance) {
			best = i;
			bestDistance = distance;
		}
	}
	return best;
}

RenderedColours::RenderedColours(obs_source_t *source) : source_(source)
{
	frames_.reserve(4096);
	thread_ = std::thread(&RenderedColours::run, this);
}

RenderedColours::~RenderedColours()
{
	stop_.store(true);
	thread_.join();
	obs_enter_graphics();
	gs_texrender_destroy(texrender_);
	gs_stagesurface_destroy(stage_);
	obs_leave_graphics();
}

void RenderedColours::run()
{
	while (!stop_.load()) {
		obs_enter_graphics();
		const uint64_t time = os_gettime_ns();
		const size_t colour = renderOnce();
		obs_leave_graphics();
		{
			std::lock_guard lock(mutex_);
			frames_.push_back({time, colour});
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
}

size_t RenderedColours::renderOnce()
{
	constexpr uint32_t kWidth = 64, kHeight = 36;
	if (!texrender_) {
		texrender_ = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
		stage_ = gs_stagesurface_create(kWidth, kHeight, GS_RGBA);
	}
	const uint32_t width = obs_source_get_width(source_), height = obs_source_get_height(source_);
	gs_texrender_reset(texrender_);
	if (width && height && gs_texrender_begin(texrender_, kWidth, kHeight)) {
		vec4 black;
		vec4_zero(&black);
		gs_clear(GS_CLEAR_COLOR, &black, 0.0f, 0);
		gs_ortho(0.0f, static_cast<float>(width), 0.0f, static_cast<float>(height), -100.0f, 100.0f);
		obs_source_video_render(source_);
		gs_texrender_end(texrender_);
		gs_stage_texture(stage_, gs_texrender_get_texture(texrender_));
	} else {
		return kBlack;
	}
	uint8_t *data = nullptr;
	uint32_t lineSize = 0;
	if (!gs_stagesurface_map(stage_, &data, &lineSize))
		return kNoFrame;
	const size_t colour = nearestPaletteColour(data + size_t{kHeight / 2} * lineSize + kWidth / 2 * 4);
	gs_stagesurface_unmap(stage_);
	return colour;
}

std::vector<RenderedColours::Frame> RenderedColours::frames() const
{
	std::lock_guard lock(mutex_);
	return frames_;
}

size_t RenderedColours::colourAt(uint64_t time) const
{
	std::lock_guard lock(mutex_);
	for (const Frame &frame : frames_)
		if (frame.timestamp >= time)
			return frame.colour;
	return kNoFrame;
}

AudioFeeder::AudioFeeder(obs_source_t *source, uint32_t frames, uint64_t leadNs)
    : source_(source), frames_(frames), leadNs_(leadNs), plane_(frames)
{
}

uint64_t AudioFeeder::push(float value)
{
	if (start_ == 0)
		start_ = os_gettime_ns() + leadNs_;
	const uint64_t timestamp = start_ + sent_ * 1'000'000'000ull / kSampleRate;
	const uint64_t due = timestamp - leadNs_;
	const uint64_t now = os_gettime_ns();
	if (due > now)
		std::this_thread::sleep_for(std::chrono::nanoseconds(due - now));

	std::fill(plane_.begin(), plane_.end(), value);
	obs_source_audio audio{};
	audio.data[0] = reinterpret_cast<const uint8_t *>(plane_.data());
	audio.data[1] = reinterpret_cast<const uint8_t *>(plane_.data());
	audio.frames = frames_;
	audio.speakers = SPEAKERS_STEREO;
	audio.format = AUDIO_FORMAT_FLOAT_PLANAR;
	audio.samples_per_sec = kSampleRate;
	audio.timestamp = timestamp;
	obs_source_output_audio(source_, &audio);
	sent_ += frames_;
	return timestamp;
}

void AudioFeeder::pushFor(double seconds, float value)
{
	const auto packets = static_cast<uint64_t>(std::ceil(seconds * kSampleRate / frames_));
	for (uint64_t i = 0; i < packets; ++i)
		push(value);
}

MixCapture::MixCapture()
{
	obs_add_raw_audio_callback(0, nullptr, onAudio, this);
}

MixCapture::~MixCapture()
{
	obs_remove_raw_audio_callback(0, onAudio, this);
}

void MixCapture::onAudio(void *param, size_t, struct audio_data *data)
{
	auto *self = static_cast<MixCapture *>(param);
	const auto *samples = reinterpret_cast<const float *>(data->data[0]);
	std::lock_guard lock(self->mutex_);
	self->blocks_.push_back({data->timestamp, std::vector<float>(samples, samples + data->frames)});
}

uint64_t MixCapture::firstLoudSampleTime(float threshold) const
{
	return firstSampleTime([threshold](float sample) { return std::fabs(sample) > threshold; });
}

uint64_t MixCapture::firstSampleTime(const std::function<bool(float)> &matches, uint64_t from) const
{
	std::lock_guard lock(mutex_);
	for (const Block &block : blocks_)
		for (size_t i = 0; i < block.samples.size(); ++i) {
			const uint64_t t = block.timestamp + i * 1'000'000'000ull / kSampleRate;
			if (t >= from && matches(block.samples[i]))
				return t;
		}
	return 0;
}

double MixCapture::meanLevel(uint64_t from, uint64_t to) const
{
	std::lock_guard lock(mutex_);
	double sum = 0;
	size_t count = 0;
	for (const Block &block : blocks_)
		for (size_t i = 0; i < block.samples.size(); ++i) {
			const uint64_t t = block.timestamp + i * 1'000'000'000ull / kSampleRate;
			if (t >= from && t < to) {
				sum += std::fabs(block.samples[i]);
				++count;
			}
		}
	return count ? sum / static_cast<double>(count) : 0.0;
}

} // namespace kestrel::test
