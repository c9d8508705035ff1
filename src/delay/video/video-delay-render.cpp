#include "common/log.h"
#include "delay/delays-disabled.h"
#include "delay/video/video-delay-filter.h"
#include "platform/key-state.h"

#include <graphics/vec4.h>
#include <obs.hpp>
#include <util/platform.h>

#include <cstring>
#include <utility>

namespace kestrel {

namespace {

constexpr uint32_t kGuideWidth = 640, kGuideHeight = 360;

const char *parentName(const VideoDelayFilter &filter)
{
	obs_source_t *parent = filter.playbackMode ? nullptr : obs_filter_get_parent(filter.source);
	const char *name = parent ? obs_source_get_name(parent) : nullptr;
	return name ? name : "?";
}

void enterStatus(VideoDelayFilter &filter, CaptureStatus status)
{
	if (filter.captureStatus == status)
		return;
	filter.captureStatus = status;
	const char *name = parentName(filter);
	switch (status) {
	case CaptureStatus::Capturing:
		KESTREL_LOG(Info, "video delay on '%s': capturing", name);
		break;
	case CaptureStatus::NoTarget:
		KESTREL_LOG(Warning, "video delay on '%s': no filter target", name);
		break;
	case CaptureStatus::ZeroSize:
		KESTREL_LOG(Warning,
			    "video delay on '%s': source size is 0 (window hidden/minimized or capture not "
			    "attached)",
			    name);
		break;
	case CaptureStatus::GpuFailure:
		KESTREL_LOG(Warning, "video delay on '%s': GPU helper alloc failed", name);
		break;
	case CaptureStatus::Unknown:
		break;
	}
}

// The OBS hotkey, or the chosen key polled from the desktop so it works while a game has focus.
bool keyHeld(const VideoDelayFilter &filter)
{
	return filter.hotkeyHeld.load(std::memory_order_relaxed) ||
	       platform::isKeyDown(filter.keyVk.load(std::memory_order_relaxed));
}

double outputFps()
{
	obs_video_info video{};
	if (!obs_get_video_info(&video) || video.fps_den == 0)
		return 30.0;
	return static_cast<double>(video.fps_num) / video.fps_den;
}

obs_source_t *resolveClone(VideoDelayFilter &filter)
{
	std::lock_guard guard(filter.cloneLock);
	return obs_weak_source_get_source(filter.cloneSource);
}

void drawGuide(const VideoDelayFilter &filter)
{
	gs_effect_t *solid = obs_get_base_effect(OBS_EFFECT_SOLID);
	vec4 color;
	vec4_set(&color, 0.15f, 0.45f, 0.80f, 0.35f);
	gs_effect_set_vec4(gs_effect_get_param_by_name(solid, "color"), &color);
	const uint32_t width = filter.sourceWidth ? filter.sourceWidth : kGuideWidth;
	const uint32_t height = filter.sourceHeight ? filter.sourceHeight : kGuideHeight;
	while (gs_effect_loop(solid, "Solid"))
		gs_draw_sprite(nullptr, 0, width, height);
}

// The copy staged one capture ago is ready by now: reading it never waits for the GPU.
void readBack(VideoDelayFilter &filter, int i)
{
	if (!filter.staged[i] || !filter.stage[i])
		return;
	filter.staged[i] = false;
	uint8_t *data = nullptr;
	uint32_t lineSize = 0;
	if (!gs_stagesurface_map(filter.stage[i], &data, &lineSize))
		return;
	RawFrame frame;
	frame.pixels = filter.worker.takeBuffer();
	frame.width = filter.stageWidth[i];
	frame.height = filter.stageHeight[i];
	frame.captureTimestamp = filter.stageTimestamp[i];
	const size_t row = size_t{frame.width} * 4;
	frame.pixels.resize(row * frame.height);
	if (lineSize == row)
		std::memcpy(frame.pixels.data(), data, row * frame.height);
	else
		for (uint32_t y = 0; y < frame.height; ++y)
			std::memcpy(frame.pixels.data() + y * row, data + size_t{y} * lineSize, row);
	gs_stagesurface_unmap(filter.stage[i]);
	filter.worker.submitRawFrame(std::move(frame));
}

bool ensureStage(VideoDelayFilter &filter, int i)
{
	gs_stagesurf_t *&stage = filter.stage[i];
	if (stage && (gs_stagesurface_get_width(stage) != filter.bufferWidth ||
		      gs_stagesurface_get_height(stage) != filter.bufferHeight)) {
		gs_stagesurface_destroy(stage);
		stage = nullptr;
	}
	if (!stage)
		stage = gs_stagesurface_create(filter.bufferWidth, filter.bufferHeight, GS_RGBA);
	if (!stage)
		enterStatus(filter, CaptureStatus::GpuFailure);
	return stage != nullptr;
}

void renderTarget(obs_source_t *target, bool targetIsParent)
{
	const uint32_t flags = obs_source_get_output_flags(target);
	if (targetIsParent && !(flags & (OBS_SOURCE_ASYNC | OBS_SOURCE_CUSTOM_DRAW)))
		obs_source_default_render(target);
	else
		obs_source_video_render(target);
}

void stageCapture(VideoDelayFilter &filter, int i, obs_source_t *target, bool targetIsParent, uint64_t now)
{
	gs_texrender_reset(filter.texrender);
	gs_blend_state_push();
	gs_blend_function(GS_BLEND_ONE, GS_BLEND_ZERO);
	if (gs_texrender_begin(filter.texrender, filter.bufferWidth, filter.bufferHeight)) {
		vec4 transparent;
		vec4_zero(&transparent);
		gs_clear(GS_CLEAR_COLOR, &transparent, 0.0f, 0);
		gs_ortho(0.0f, static_cast<float>(filter.sourceWidth), 0.0f,
			 static_cast<float>(filter.sourceHeight), -100.0f, 100.0f);
		renderTarget(target, targetIsParent);
		gs_texrender_end(filter.texrender);
		if (gs_texture_t *texture = gs_texrender_get_texture(filter.texrender)) {
			gs_stage_texture(filter.stage[i], texture);
			filter.staged[i] = true;
			filter.stageTimestamp[i] = now;
			filter.stageWidth[i] = filter.bufferWidth;
			filter.stageHeight[i] = filter.bufferHeight;
			filter.stageIndex = i ^ 1;
		}
	}
	gs_blend_state_pop();
}

void capture(VideoDelayFilter &filter, obs_source_t *target, bool targetIsParent, bool recording,
	     uint64_t now)
{
	const bool started = filter.staged[0] || filter.staged[1] || filter.display.captureTimestamp != 0;
	if (!filter.pacer.captureNow(outputFps(), filter.frameIntervalNs.load(std::memory_order_relaxed),
				     started))
		return;
	const int i = filter.stageIndex;
	readBack(filter, i);
	if (ensureStage(filter, i) && recording)
		stageCapture(filter, i, target, targetIsParent, now);
}

// Sizes the capture after the target; false (with the reason logged once) when nothing can be
// captured this frame.
bool prepareCapture(VideoDelayFilter &filter, obs_source_t *target, bool hasParent)
{
	if (!target || !hasParent) {
		enterStatus(filter, CaptureStatus::NoTarget);
		return false;
	}
	filter.sourceWidth = obs_source_get_base_width(target);
	filter.sourceHeight = obs_source_get_base_height(target);
	if (filter.sourceWidth == 0 || filter.sourceHeight == 0) {
		enterStatus(filter, CaptureStatus::ZeroSize);
		return false;
	}
	const double scale = filter.bufferScale.load(std::memory_order_relaxed);
	filter.bufferWidth = bufferDimension(filter.sourceWidth, scale);
	filter.bufferHeight = bufferDimension(filter.sourceHeight, scale);
	if (!filter.texrender)
		filter.texrender = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
	if (!filter.texrender) {
		enterStatus(filter, CaptureStatus::GpuFailure);
		return false;
	}
	enterStatus(filter, CaptureStatus::Capturing);
	return true;
}

void takeOverDecodedFrame(VideoDelayFilter &filter)
{
	if (!filter.worker.takeDecodedFrame(filter.display))
		return;
	filter.lastNewFrameNs = os_gettime_ns();
	filter.textureStale = true;
}

bool haveFrame(const VideoDelayFilter &filter)
{
	const RawFrame &shown = filter.display;
	return shown.captureTimestamp != 0 && !shown.pixels.empty() && shown.width != 0 && shown.height != 0;
}

bool ensureDisplayTexture(VideoDelayFilter &filter)
{
	const RawFrame &shown = filter.display;
	if (filter.displayTexture && filter.textureWidth == shown.width &&
	    filter.textureHeight == shown.height)
		return true;
	if (filter.displayTexture)
		gs_texture_destroy(filter.displayTexture);
	filter.displayTexture = gs_texture_create(shown.width, shown.height, GS_RGBA, 1, nullptr, GS_DYNAMIC);
	filter.textureWidth = filter.displayTexture ? shown.width : 0;
	filter.textureHeight = filter.displayTexture ? shown.height : 0;
	filter.textureStale = true;
	return filter.displayTexture != nullptr;
}

// Draws the delayed frame stretched to the source size; false when no texture can hold it.
bool drawDelayed(VideoDelayFilter &filter)
{
	if (!ensureDisplayTexture(filter)) {
		enterStatus(filter, CaptureStatus::GpuFailure);
		return false;
	}
	if (filter.textureStale) {
		gs_texture_set_image(filter.displayTexture, filter.display.pixels.data(),
				     filter.display.width * 4, false);
		filter.textureStale = false;
		if (!filter.readyLogged) {
			filter.readyLogged = true;
			KESTREL_LOG(Info, "video delay READY: showing %.1fs-delayed video (compressed ring)",
				    delaySeconds(filter));
		}
	}
	gs_effect_t *effect = obs_get_base_effect(OBS_EFFECT_DEFAULT);
	gs_effect_set_texture(gs_effect_get_param_by_name(effect, "image"), filter.displayTexture);
	while (gs_effect_loop(effect, "Draw"))
		gs_draw_sprite(filter.displayTexture, 0, filter.sourceWidth, filter.sourceHeight);
	return true;
}

void show(VideoDelayFilter &filter, FrameChoice choice, bool showGuide)
{
	if (choice == FrameChoice::Delayed && !drawDelayed(filter))
		choice = fallbackFrame(filter.playbackMode, showGuide);
	if (choice == FrameChoice::Live)
		obs_source_skip_video_filter(filter.source);
	else if (choice == FrameChoice::Guide)
		drawGuide(filter);
}

// Drops every frame captured or being captured; what is on display stays.
void resetCapture(VideoDelayFilter &filter)
{
	filter.worker.resetPipeline();
	filter.pacer.reset();
	filter.staged[0] = filter.staged[1] = false;
}

// While the delays are off the push camera and the playback source capture nothing, and start
// from empty when the delays come back.
void renderSwitchedOff(VideoDelayFilter &filter, bool pushMode, bool showGuide)
{
	if (!filter.offLatched) {
		filter.offLatched = true;
		resetVideoDelay(filter);
	}
	if (filter.playbackMode)
		show(filter, showGuide ? FrameChoice::Guide : FrameChoice::Nothing, showGuide);
	else if (pushMode && keyHeld(filter))
		obs_source_skip_video_filter(filter.source);
}

} // namespace

void resetVideoDelay(VideoDelayFilter &filter)
{
	resetCapture(filter);
	filter.display.pixels.clear();
	filter.display.width = filter.display.height = 0;
	filter.display.captureTimestamp = 0;
	filter.readyLogged = false;
	filter.refillingAfterDump = false;
}

void dumpVideoDelay(VideoDelayFilter &filter, bool passLive)
{
	const bool holdStill = !filter.pushMode.load(std::memory_order_relaxed) && !filter.playbackMode &&
			       !passLive && haveFrame(filter);
	if (holdStill)
		resetCapture(filter);
	else
		resetVideoDelay(filter);
	filter.refillingAfterDump = true;
}

void renderVideoDelay(VideoDelayFilter &filter)
{
	if (filter.resetPending.exchange(false))
		resetVideoDelay(filter);
	const bool pushMode = filter.pushMode.load(std::memory_order_relaxed);
	const bool showGuide = filter.showGuide.load(std::memory_order_relaxed);
	const bool passLive = delaysDisabled.load(std::memory_order_relaxed);
	if (filter.dumps.dumpRequested())
		dumpVideoDelay(filter, passLive);
	if (passLive && (pushMode || filter.playbackMode)) {
		renderSwitchedOff(filter, pushMode, showGuide);
		return;
	}
	filter.offLatched = false;

	const bool recording = !pushMode || keyHeld(filter);
	OBSSourceAutoRelease clone = filter.playbackMode ? resolveClone(filter) : nullptr;
	obs_source_t *target = filter.playbackMode ? clone.Get() : obs_filter_get_target(filter.source);
	obs_source_t *parent = filter.playbackMode ? nullptr : obs_filter_get_parent(filter.source);
	if (!prepareCapture(filter, target, filter.playbackMode || parent)) {
		show(filter, fallbackFrame(filter.playbackMode, showGuide), showGuide);
		return;
	}
	const uint64_t now = os_gettime_ns();
	if (!filter.capturedThisTick) {
		filter.capturedThisTick = true;
		capture(filter, target, target == parent, recording, now);
	}
	takeOverDecodedFrame(filter);
	const FrameState state{pushMode,
			       filter.playbackMode,
			       passLive,
			       haveFrame(filter),
			       isFresh(filter.lastNewFrameNs, os_gettime_ns()),
			       showGuide,
			       filter.refillingAfterDump};
	show(filter, chooseFrame(state), showGuide);
}

void destroyVideoDelayGpuObjects(VideoDelayFilter &filter)
{
	obs_enter_graphics();
	if (filter.texrender)
		gs_texrender_destroy(filter.texrender);
	for (gs_stagesurf_t *stage : filter.stage)
		if (stage)
			gs_stagesurface_destroy(stage);
	if (filter.displayTexture)
		gs_texture_destroy(filter.displayTexture);
	obs_leave_graphics();
	filter.texrender = nullptr;
	filter.stage[0] = filter.stage[1] = nullptr;
	filter.displayTexture = nullptr;
}

} // namespace kestrel
