#pragma once

#include "delay/delays-disabled.h"
#include "delay/keys/source-hotkey.h"
#include "delay/video/video-delay-rules.h"
#include "delay/video/video-delay-worker.h"

#include <obs.h>

#include <atomic>
#include <mutex>
#include <string>

namespace kestrel {

inline constexpr const char *kVideoDelayKey = "delay_s";
inline constexpr const char *kVideoKeyKey = "pdv_vk";

// One instance of the video delay, the push-to-delay camera or the Delay Playback source: they
// share this record and its render path and differ by the two mode flags.
struct VideoDelayFilter {
	VideoDelayFilter(obs_source_t *source, bool pushMode, bool playbackMode, const char *hotkeyName,
			 const char *hotkeyDescription);
	VideoDelayFilter(const VideoDelayFilter &) = delete;
	VideoDelayFilter &operator=(const VideoDelayFilter &) = delete;

	obs_source_t *const source;
	const bool playbackMode;
	// Written by update (the Delay Playback source changes it with its mode), read per frame.
	std::atomic<bool> pushMode;
	std::atomic<uint32_t> keyVk{0};
	std::atomic<bool> hotkeyHeld{false}; // written by OBS's hotkey thread
	SourceHotkey hotkey;

	std::atomic<uint64_t> delayNs{0};
	std::atomic<uint64_t> frameIntervalNs{0};
	std::atomic<double> bufferScale{1.0};
	std::atomic<bool> showGuide{false};
	// update may not touch the graphics thread's fields: it asks, the next render resets.
	std::atomic<bool> resetPending{false};

	// Delay Playback: the source to clone, by name, and what that name last resolved to.
	std::mutex cloneLock;
	std::string cloneSourceName;
	obs_weak_source_t *cloneSource = nullptr;
	uint64_t lastCloneLookupNs = 0;

	VideoDelayWorker worker;

	// Graphics thread only: capture side.
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

	// Graphics thread only: display side. display.captureTimestamp 0 = nothing shown.
	gs_texture_t *displayTexture = nullptr;
	uint32_t textureWidth = 0, textureHeight = 0;
	RawFrame display;
	bool textureStale = false;
	uint64_t lastNewFrameNs = 0;
	bool readyLogged = false;
};

// Shared by the three types (video-delay-filter.cpp).
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
