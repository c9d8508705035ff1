#include "obs-harness.h"

#include <obs-nix-platform.h>
#include <util/platform.h>

#include <X11/Xlib.h>

#include <chrono>
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

bool resetVideo()
{
	obs_video_info video{};
	video.graphics_module = "libobs-opengl";
	video.fps_num = 60;
	video.fps_den = 1;
	video.base_width = video.output_width = 640;
	video.base_height = video.output_height = 360;
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
	obs_shutdown();
	if (display)
		XCloseDisplay(display);
	display = nullptr;
	kestrel = nullptr;
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
