#pragma once

#include "delay/delays-disabled.h"
#include "delay/keys/source-hotkey.h"
#include "delay/video/video-delay-rules.h"
#include "delay/video/video-delay-worker.h"

#include <obs.hpp>

#include <atomic>
#include <mutex>
#include <string>

namespace kestrel {

inline constexpr const char *kVideoDelayKey = "delay_s";
inline constexpr const char *kVideoKeyKey = "pdv_vk";

// Guide frame drawn while the Delay Playback source has nothing to show yet.
inline constexpr uint32_t kGuideWidth = 640, kGuideHeight = 360;

// The three source types built on the video delay; they share its render path.
enum class VideoDelayKind {
	ScreenDelay,       // filter: the whole source, always delayed
	PushToDelayCamera, // filter: records only while the key is held
	Playback,          // input: a delayed clone of another source, always or with the key
};

// One instance of one kind, its state split by who owns it.
struct VideoDelayFilter {
	VideoDelayFilter(obs_source_t *source, VideoDelayKind kind, const char *hotkeyName,
			 const char *hotkeyDescription);
	VideoDelayFilter(const VideoDelayFilter &) = delete;
	VideoDelayFilter &operator=(const VideoDelayFilter &) = delete;

	bool isPlayback() const { return kind == VideoDelayKind::Playback; }

	obs_source_t *const source;
	const VideoDelayKind kind;

	// Written by update (and the key by OBS's hotkey thread), read per frame without a lock.
	struct Settings {
		// The Delay Playback source changes it with its mode.
		std::atomic<bool> pushMode{false};
		std::atomic<uint32_t> keyVk{0};
		std::atomic<bool> hotkeyHeld{false};
		std::atomic<uint64_t> delayNs{0};
		std::atomic<uint64_t> frameIntervalNs{0};
		std::atomic<double> bufferScale{1.0};
		std::atomic<bool> showGuide{false};
		// update may not touch the graphics thread's fields: it asks, the next render resets.
		std::atomic<bool> resetPending{false};
	} settings;
	SourceHotkey hotkey;

	// Delay Playback only, under `lock`: the source to clone, by name, and what that name last
	// resolved to.
	struct Clone {
		std::mutex lock;
		std::string name;
		OBSWeakSourceAutoRelease source;
		uint64_t lastLookupNs = 0;
	} clone;

	// The hand-over between the graphics thread and the encoding thread.
	VideoDelayWorker worker;

	// Graphics thread only.
	struct Graphics {
		// Capture side.
		gs_texrender_t *texrender = nullptr;
		gs_stagesurf_t *stage[2] = {};
		bool staged[2] = {};
		uint64_t stageTimestamp[2] = {};
		uint32_t stageWidth[2] = {}, stageHeight[2] = {};
		int stageIndex = 0;
		uint32_t sourceWidth = 0, sourceHeight = 0;
		uint32_t bufferWidth = 0, bufferHeight = 0;
		CapturePacer pacer;
		bool capturedThisTick = false;
		CaptureStatus captureStatus = CaptureStatus::Unknown;
		bool offLatched = false;
		DumpWatch dumps;
		// Refilling after a dump: the plain filter shows its held still, or nothing, never live.
		bool refillingAfterDump = false;

		// Display side. display.captureTimestamp 0 = nothing shown.
		gs_texture_t *displayTexture = nullptr;
		uint32_t textureWidth = 0, textureHeight = 0;
		RawFrame display;
		bool textureStale = false;
		uint64_t lastNewFrameNs = 0;
		bool readyLogged = false;
	} graphics;
};

// Shared by the three types (video-delay-filter.cpp).
// The callbacks every kind uses; each kind adds its name, create and what differs.
obs_source_info sharedVideoDelayInfo(const char *id, obs_source_type type, uint32_t flags);
void setVideoDelayDefaults(obs_data_t *settings);
void applyVideoDelaySettings(VideoDelayFilter &filter, obs_data_t *settings);
// Starts the worker; null (the instance freed) when no thread can start.
VideoDelayFilter *startVideoDelay(VideoDelayFilter *filter);
double delaySeconds(const VideoDelayFilter &filter);
void destroyVideoDelay(void *data);

// The render path shared by the three types (video-delay-render.cpp).
void renderVideoDelay(VideoDelayFilter &filter);
// Empties the delay: nothing captured before the call is shown after it. Graphics thread.
void resetVideoDelay(VideoDelayFilter &filter);
// Drops everything captured so far; a plain filter that is showing delayed frames keeps the
// last one as a still. Graphics thread.
void dumpVideoDelay(VideoDelayFilter &filter, bool passLive);
// Graphics objects are freed inside the graphics context, after the worker has stopped.
void destroyVideoDelayGpuObjects(VideoDelayFilter &filter);

} // namespace kestrel
