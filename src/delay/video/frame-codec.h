#pragma once

#include "delay/video/av-frame-decoder.h"
#include "delay/video/av-frame-encoder.h"
#include "delay/video/group-rate-control.h"
#include "delay/video/turbo-jpeg.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// Which library writes and reads the JPEG packets of the CPU engine. Both produce plain JPEG
// images, so either reads the other's packets.
enum class JpegLibrary { LibJpegTurbo, LibAvCodec };

struct FrameCodecOptions {
	JpegLibrary jpegLibrary = JpegLibrary::LibJpegTurbo;
	// H.264 encoders tried in order for the hardware engine; those missing from the FFmpeg
	// build or refusing to open are skipped, and MJPEG is the last resort.
	std::vector<std::string> hardwareEncoders{"h264_amf", "h264_nvenc", "h264_qsv", "h264_mf"};
	// Threads that encode and decode the slices of a software H.264 frame side by side.
	int softwareH264Threads = 1;
};

// Compresses tightly packed RGBA images into single packets (JPEG, H.264 where a hardware
// encoder opens, or software H.264 in groups of pictures) and back. Owned and used by one
// thread; takes no locks.
class FrameCodec {
public:
	static constexpr int kEngineMjpeg = 0;
	static constexpr int kEngineHardware = 1;
	// Key frame, then P-frames that each need the one before: the smallest packets by far, but
	// they have to be decoded in order from a key frame.
	static constexpr int kEngineSoftwareH264 = 2;
	// A software H.264 group spans at most this much capture time, and at most this many frames.
	static constexpr uint64_t kGroupSpanNs = 2'000'000'000;
	static constexpr int kGroupFramesLimit = 120;

	explicit FrameCodec(FrameCodecOptions options = {});

	// Compresses width × height × 4 bytes. `quality` 1 (best) .. 10 (smallest) is clamped; an
	// unknown engine means MJPEG. True with an empty packet when the encoder holds the frame
	// back; `packetTimestampOut` is the capture time of the frame the packet encodes.
	bool encode(const uint8_t *rgba, uint32_t width, uint32_t height, int quality, bool full444,
		    int engine, uint64_t captureTimestamp, std::vector<uint8_t> &packetOut,
		    uint64_t &packetTimestampOut);

	// Decompresses one packet of either format into tightly packed RGBA.
	bool decode(const uint8_t *bytes, size_t size, std::vector<uint8_t> &rgbaOut, uint32_t &widthOut,
		    uint32_t &heightOut);

	// Whether the last packet decodes without the ones before it (every JPEG and hardware
	// packet does; in software H.264 only the first of each group).
	bool lastPacketIsKeyFrame() const { return lastPacketIsKeyFrame_; }
	// The next frame encoded starts a new group, so nothing before it is needed to decode it.
	void requestKeyFrame() { keyFrameRequested_ = true; }
	// Software H.264 keeps to this many bits per second of capture time by choosing each group's
	// quantiser, never better than the quality asks for; 0 codes every group at the quality's
	// quantiser. A change applies from the next group on.
	void setTargetBitRate(uint64_t bitsPerSecond) { targetBitRate_ = bitsPerSecond; }
	// Software H.264: the quantiser of the group under way, and how close the last group's key
	// frame came back to its source (dB, 0 until measured).
	int groupQuantiser() const { return opened_.quantiser; }
	double measuredPsnr() const { return measuredPsnr_; }

	// "none" while closed, "mjpeg", "libx264", or the name of the hardware encoder in use.
	const std::string &encoderName() const { return encoderName_; }
	// 0 MJPEG, 1 hardware H.264, 2 software H.264, -1 closed.
	int engineInUse() const { return engineInUse_; }
	// How often the encoder was (re)opened: once per change of size, quality, 4:4:4 or engine.
	uint64_t encoderOpenCount() const { return encoderOpenCount_; }

private:
	struct EncoderSettings {
		uint32_t width = 0;
		uint32_t height = 0;
		int quality = 0;
		bool full444 = false;
		int requestedEngine = -1;
		int quantiser = 0; // software H.264 only
		bool operator==(const EncoderSettings &) const = default;
	};

	bool ensureEncoder(const EncoderSettings &wanted);
	void closeEncoder();
	// Picks the quantiser when a software H.264 group starts; true when one does.
	bool planGroup(EncoderSettings &wanted, uint64_t captureTimestamp);
	bool startsGroup(uint64_t captureTimestamp) const;
	void measureKeyFrame(const uint8_t *rgba, const std::vector<uint8_t> &packet);
	bool usesTurbo() const { return options_.jpegLibrary == JpegLibrary::LibJpegTurbo; }

	FrameCodecOptions options_;
	AvFrameEncoder avEncoder_;
	AvFrameDecoder avDecoder_;
	TurboJpeg turbo_;
	GroupRateControl rateControl_;
	uint64_t targetBitRate_ = 0;
	// Decodes key frames as they are made, to measure what the ring keeps of the picture.
	AvFrameDecoder probe_;
	std::vector<uint8_t> probeImage_;
	double measuredPsnr_ = 0;
	// The settings asked for, not the engine that ended up running: a hardware request that fell
	// back to MJPEG must not probe the hardware encoders again on every frame.
	EncoderSettings opened_;
	int engineInUse_ = -1;
	std::string encoderName_ = "none";
	uint64_t encoderOpenCount_ = 0;
	bool lastPacketIsKeyFrame_ = false;
	bool keyFrameRequested_ = false;
	uint64_t groupStartTimestamp_ = 0;
	// Counted here so a full group is planned before the encoder would start one on its own.
	int framesInGroup_ = 0;
};

} // namespace kestrel
