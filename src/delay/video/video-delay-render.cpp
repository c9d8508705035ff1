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

const char *parentName(const VideoDelayFilter &filter)
{
	obs_source_t *parent = filter.isPlayback() ? nullptr : obs_filter_get_parent(filter.source);
	const char *name = parent ? obs_source_get_name(parent) : nullptr;
	return name ? name : "?";
}

void enterStatus(VideoDelayFilter &filter, CaptureStatus status)
{
	if (filter.graphics.captureStatus == status)
		return;
	filter.graphics.captureStatus = status;
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
	return filter.settings.hotkeyHeld.load(std::memory_order_relaxed) ||
	       platform::isKeyDown(filter.settings.keyVk.load(std::memory_order_relaxed));
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
	std::lock_guard guard(filter.clone.lock);
	return obs_weak_source_get_source(filter.clone.source);
}

void drawGuide(const VideoDelayFilter &filter)
{
	gs_effect_t *solid = obs_get_base_effect(OBS_EFFECT_SOLID);
	vec4 color;
	vec4_set(&color, 0.15f, 0.45f, 0.80f, 0.35f);
	gs_effect_set_vec4(gs_effect_get_param_by_name(solid, "color"), &color);
	const uint32_t width = filter.graphics.sourceWidth ? filter.graphics.sourceWidth : kGuideWidth;
	const uint32_t height = filter.graphics.sourceHeight ? filter.graphics.sourceHeight : kGuideHeight;
	while (gs_effect_loop(solid, "Solid"))
		gs_draw_sprite(nullptr, 0, width, height);
}

// The copy staged one capture ago is ready by now: reading it never waits for the GPU.
void readBack(VideoDelayFilter &filter, int i)
{
	if (!filter.graphics.staged[i] || !filter.graphics.stage[i])
		return;
	filter.graphics.staged[i] = false;
	uint8_t *data = nullptr;
	uint32_t lineSize = 0;
	if (!gs_stagesurface_map(filter.graphics.stage[i], &data, &lineSize))
		return;
	RawFrame frame;
	frame.pixels = filter.worker.takeBuffer();
	frame.width = filter.graphics.stageWidth[i];
	frame.height = filter.graphics.stageHeight[i];
	frame.captureTimestamp = filter.graphics.stageTimestamp[i];
	const size_t row = size_t{frame.width} * 4;
	frame.pixels.resize(row * frame.height);
	if (lineSize == row)
		std::memcpy(frame.pixels.data(), data, row * frame.height);
	else
		for (uint32_t y = 0; y < frame.height; ++y)
			std::memcpy(frame.pixels.data() + y * row, data + size_t{y} * lineSize, row);
	gs_stagesurface_unmap(filter.graphics.stage[i]);
	filter.worker.submitRawFrame(std::move(frame));
}

bool ensureStage(VideoDelayFilter &filter, int i)
{
	gs_stagesurf_t *&stage = filter.graphics.stage[i];
	if (stage && (gs_stagesurface_get_width(stage) != filter.graphics.bufferWidth ||
		      gs_stagesurface_get_height(stage) != filter.graphics.bufferHeight)) {
		gs_stagesurface_destroy(stage);
		stage = nullptr;
	}
	if (!stage)
		stage = gs_stagesurface_create(filter.graphics.bufferWidth, filter.graphics.bufferHeight,
					       GS_RGBA);
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
	gs_texrender_reset(filter.graphics.texrender);
	gs_blend_state_push();
	gs_blend_function(GS_BLEND_ONE, GS_BLEND_ZERO);
	if (gs_texrender_begin(filter.graphics.texrender, filter.graphics.bufferWidth,
			       filter.graphics.bufferHeight)) {
		vec4 transparent;
		vec4_zero(&transparent);
		gs_clear(GS_CLEAR_COLOR, &transparent, 0.0f, 0);
		gs_ortho(0.0f, static_cast<float>(filter.graphics.sourceWidth), 0.0f,
			 static_cast<float>(filter.graphics.sourceHeight), -100.0f, 100.0f);
		renderTarget(target, targetIsParent);
		gs_texrender_end(filter.graphics.texrender);
		if (gs_texture_t *texture = gs_texrender_get_texture(filter.graphics.texrender)) {
			gs_stage_texture(filter.graphics.stage[i], texture);
			filter.graphics.staged[i] = true;
			filter.graphics.stageTimestamp[i] = now;
			filter.graphics.stageWidth[i] = filter.graphics.bufferWidth;
			filter.graphics.stageHeight[i] = filter.graphics.bufferHeight;
			filter.graphics.stageIndex = i ^ 1;
		}
	}
	gs_blend_state_pop();
}

void capture(VideoDelayFilter &filter, obs_source_t *target, bool targetIsParent, bool recording,
	     uint64_t now)
{
	const bool started = filter.graphics.staged[0] || filter.graphics.staged[1] ||
			     filter.graphics.display.captureTimestamp != 0;
	if (!filter.graphics.pacer.captureNow(
		outputFps(), filter.settings.frameIntervalNs.load(std::memory_order_relaxed), started))
		return;
	const int i = filter.graphics.stageIndex;
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
	filter.graphics.sourceWidth = obs_source_get_base_width(target);
	filter.graphics.sourceHeight = obs_source_get_base_height(target);
	if (filter.graphics.sourceWidth == 0 || filter.graphics.sourceHeight == 0) {
		enterStatus(filter, CaptureStatus::ZeroSize);
		return false;
	}
	const double scale = filter.settings.bufferScale.load(std::memory_order_relaxed);
	filter.graphics.bufferWidth = bufferDimension(filter.graphics.sourceWidth, scale);
	filter.graphics.bufferHeight = bufferDimension(filter.graphics.sourceHeight, scale);
	if (!filter.graphics.texrender)
		filter.graphics.texrender = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
	if (!filter.graphics.texrender) {
		enterStatus(filter, CaptureStatus::GpuFailure);
		return false;
	}
	enterStatus(filter, CaptureStatus::Capturing);
	return true;
}

void takeOverDecodedFrame(VideoDelayFilter &filter)
{
	if (!filter.worker.takeDecodedFrame(filter.graphics.display))
		return;
	filter.graphics.lastNewFrameNs = os_gettime_ns();
	filter.graphics.textureStale = true;
}

bool haveFrame(const VideoDelayFilter &filter)
{
	const RawFrame &shown = filter.graphics.display;
	return shown.captureTimestamp != 0 && !shown.pixels.empty() && shown.width != 0 && shown.height != 0;
}

bool ensureDisplayTexture(VideoDelayFilter &filter)
{
	const RawFrame &shown = filter.graphics.display;
	if (filter.graphics.displayTexture && filter.graphics.textureWidth == shown.width &&
	    filter.graphics.textureHeight == shown.height)
		return true;
	if (filter.graphics.displayTexture)
		gs_texture_destroy(filter.graphics.displayTexture);
	filter.graphics.displayTexture =
	    gs_texture_create(shown.width, shown.height, GS_RGBA, 1, nullptr, GS_DYNAMIC);
	filter.graphics.textureWidth = filter.graphics.displayTexture ? shown.width : 0;
	filter.graphics.textureHeight = filter.graphics.displayTexture ? shown.height : 0;
	filter.graphics.textureStale = true;
	return filter.graphics.displayTexture != nullptr;
}

// Draws the delayed frame stretched to the source size; false when no texture can hold it.
bool drawDelayed(VideoDelayFilter &filter)
{
	if (!ensureDisplayTexture(filter)) {
		enterStatus(filter, CaptureStatus::GpuFailure);
		return false;
	}
	if (filter.graphics.textureStale) {
		gs_texture_set_image(filter.graphics.displayTexture, filter.graphics.display.pixels.data(),
				     filter.graphics.display.width * 4, false);
		filter.graphics.textureStale = false;
		if (!filter.graphics.readyLogged) {
			filter.graphics.readyLogged = true;
			KESTREL_LOG(Info, "video delay READY: showing %.1fs-delayed video (compressed ring)",
				    delaySeconds(filter));
		}
	}
	gs_effect_t *effect = obs_get_base_effect(OBS_EFFECT_DEFAULT);
	gs_effect_set_texture(gs_effect_get_param_by_name(effect, "image"), filter.graphics.displayTexture);
	while (gs_effect_loop(effect, "Draw"))
		gs_draw_sprite(filter.graphics.displayTexture, 0, filter.graphics.sourceWidth,
			       filter.graphics.sourceHeight);
	return true;
}

void show(VideoDelayFilter &filter, FrameChoice choice, bool showGuide)
{
	if (choice == FrameChoice::Delayed && !drawDelayed(filter))
		choice = fallbackFrame(filter.isPlayback(), showGuide);
	if (choice == FrameChoice::Live)
		obs_source_skip_video_filter(filter.source);
	else if (choice == FrameChoice::Guide)
		drawGuide(filter);
}

// Drops every frame captured or being captured; what is on display stays.
void resetCapture(VideoDelayFilter &filter)
{
	filter.worker.resetPipeline();
	filter.graphics.pacer.reset();
	filter.graphics.staged[0] = filter.graphics.staged[1] = false;
}

// While the delays are off the push camera and the playback source capture nothing, and start
// from empty when the delays come back.
void renderSwitchedOff(VideoDelayFilter &filter, bool pushMode, bool showGuide)
{
	if (!filter.graphics.offLatched) {
		filter.graphics.offLatched = true;
		resetVideoDelay(filter);
	}
	if (filter.isPlayback())
		show(filter, showGuide ? FrameChoice::Guide : FrameChoice::Nothing, showGuide);
	else if (pushMode && keyHeld(filter))
		obs_source_skip_video_filter(filter.source);
}

} // namespace

void resetVideoDelay(VideoDelayFilter &filter)
{
	resetCapture(filter);
	filter.graphics.display.pixels.clear();
	filter.graphics.display.width = filter.graphics.display.height = 0;
	filter.graphics.display.captureTimestamp = 0;
	filter.graphics.readyLogged = false;
	filter.graphics.refillingAfterDump = false;
}

void dumpVideoDelay(VideoDelayFilter &filter, bool passLive)
{
	const bool holdStill = !filter.settings.pushMode.load(std::memory_order_relaxed) &&
			       !filter.isPlayback() && !passLive && haveFrame(filter);
	if (holdStill)
		resetCapture(filter);
	else
		resetVideoDelay(filter);
	filter.graphics.refillingAfterDump = true;
}

void renderVideoDelay(VideoDelayFilter &filter)
{
	if (filter.settings.resetPending.exchange(false))
		resetVideoDelay(filter);
	const bool pushMode = filter.settings.pushMode.load(std::memory_order_relaxed);
	const bool showGuide = filter.settings.showGuide.load(std::memory_order_relaxed);
	const bool passLive = delaysDisabled.load(std::memory_order_relaxed);
	if (filter.graphics.dumps.dumpRequested())
		dumpVideoDelay(filter, passLive);
	if (passLive && (pushMode || filter.isPlayback())) {
		renderSwitchedOff(filter, pushMode, showGuide);
		return;
	}
	filter.graphics.offLatched = false;

	const bool recording = !pushMode || keyHeld(filter);
	OBSSourceAutoRelease clone = filter.isPlayback() ? resolveClone(filter) : nullptr;
	obs_source_t *target = filter.isPlayback() ? clone.Get() : obs_filter_get_target(filter.source);
	obs_source_t *parent = filter.isPlayback() ? nullptr : obs_filter_get_parent(filter.source);
	if (!prepareCapture(filter, target, filter.isPlayback() || parent)) {
		show(filter, fallbackFrame(filter.isPlayback(), showGuide), showGuide);
		return;
	}
	const uint64_t now = os_gettime_ns();
	if (!filter.graphics.capturedThisTick) {
		filter.graphics.capturedThisTick = true;
		capture(filter, target, target == parent, recording, now);
	}
	takeOverDecodedFrame(filter);
	const FrameState state{pushMode,
			       filter.isPlayback(),
			       passLive,
			       haveFrame(filter),
			       isFresh(filter.graphics.lastNewFrameNs, os_gettime_ns()),
			       showGuide,
			       filter.graphics.refillingAfterDump};
	show(filter, chooseFrame(state), showGuide);
}

void destroyVideoDelayGpuObjects(VideoDelayFilter &filter)
{
	obs_enter_graphics();
	if (filter.graphics.texrender)
		gs_texrender_destroy(filter.graphics.texrender);
	for (gs_stagesurf_t *stage : filter.graphics.stage)
		if (stage)
			gs_stagesurface_destroy(stage);
	if (filter.graphics.displayTexture)
		gs_texture_destroy(filter.graphics.displayTexture);
	obs_leave_graphics();
	filter.graphics.texrender = nullptr;
	filter.graphics.stage[0] = filter.graphics.stage[1] = nullptr;
	filter.graphics.displayTexture = nullptr;
}

} // namespace kestrel
