#include "delay/video/frame-codec.h"

#include "delay/video/frame-limits.h"

#include <algorithm>
#include <utility>

namespace kestrel {

namespace {

bool isJpeg(const uint8_t *bytes)
{
	return bytes[0] == 0xFF && bytes[1] == 0xD8;
}

int knownEngine(int engine)
{
	return engine == FrameCodec::kEngineHardware || engine == FrameCodec::kEngineSoftwareH264
		   ? engine
		   : FrameCodec::kEngineMjpeg;
}

} // namespace

FrameCodec::FrameCodec(FrameCodecOptions options) : options_(std::move(options)) {}

void FrameCodec::closeEncoder()
{
	avEncoder_.close();
	opened_ = {};
	engineInUse_ = -1;
	encoderName_ = "none";
}

bool FrameCodec::ensureEncoder(const EncoderSettings &wanted)
{
	if (engineInUse_ >= 0 && wanted == opened_)
		return true;
	closeEncoder();
	++encoderOpenCount_;
	const int width = static_cast<int>(wanted.width);
	const int height = static_cast<int>(wanted.height);
	if (wanted.requestedEngine == kEngineSoftwareH264 &&
	    avEncoder_.openSoftwareH264(width, height, wanted.quality, wanted.full444, kGroupFramesLimit)) {
		engineInUse_ = kEngineSoftwareH264;
		encoderName_ = "libx264";
	}
	if (wanted.requestedEngine == kEngineHardware) {
		for (const std::string &name : options_.hardwareEncoders) {
			if (avEncoder_.openH264(name.c_str(), width, height, wanted.quality)) {
				engineInUse_ = kEngineHardware;
				encoderName_ = name;
				break;
			}
		}
	}
	if (engineInUse_ < 0) {
		if (!usesTurbo() && !avEncoder_.openMjpeg(width, height, wanted.quality, wanted.full444))
			return false;
		engineInUse_ = kEngineMjpeg;
		encoderName_ = "mjpeg";
	}
	opened_ = wanted;
	return true;
}

bool FrameCodec::encode(const uint8_t *rgba, uint32_t width, uint32_t height, int quality, bool full444,
			int engine, uint64_t captureTimestamp, std::vector<uint8_t> &packetOut,
			uint64_t &packetTimestampOut)
{
	packetOut.clear();
	packetTimestampOut = captureTimestamp;
	lastPacketIsKeyFrame_ = false;
	if (!rgba || width == 0 || height == 0 || width > kMaxFrameSide || height > kMaxFrameSide)
		return false;
	const EncoderSettings wanted{width, height, std::clamp(quality, 1, 10), full444, knownEngine(engine)};
	if (!ensureEncoder(wanted))
		return false;
	if (engineInUse_ == kEngineMjpeg && usesTurbo()) {
		lastPacketIsKeyFrame_ = true;
		return turbo_.encode(rgba, static_cast<int>(width), static_cast<int>(height), wanted.quality,
				     full444, packetOut);
	}
	const bool startGroup = startsGroup(captureTimestamp);
	keyFrameRequested_ = false;
	int64_t packetTimestamp = 0;
	bool keyFrame = false;
	const bool encoded = avEncoder_.encode(rgba, static_cast<int64_t>(captureTimestamp), startGroup,
					       packetOut, packetTimestamp, keyFrame);
	packetTimestampOut = static_cast<uint64_t>(packetTimestamp);
	if (packetOut.empty())
		return encoded;
	lastPacketIsKeyFrame_ = keyFrame || engineInUse_ != kEngineSoftwareH264;
	if (keyFrame)
		groupStartTimestamp_ = packetTimestampOut;
	return encoded;
}

bool FrameCodec::startsGroup(uint64_t captureTimestamp) const
{
	return engineInUse_ == kEngineSoftwareH264 &&
	       (keyFrameRequested_ || captureTimestamp < groupStartTimestamp_ ||
		captureTimestamp - groupStartTimestamp_ >= kGroupSpanNs);
}

bool FrameCodec::decode(const uint8_t *bytes, size_t size, std::vector<uint8_t> &rgbaOut, uint32_t &widthOut,
			uint32_t &heightOut)
{
	if (!bytes || size < 4)
		return false;
	if (!isJpeg(bytes))
		return avDecoder_.decode(AV_CODEC_ID_H264, bytes, size, avEncoder_.h264Extradata(), rgbaOut,
					 widthOut, heightOut);
	if (usesTurbo())
		return turbo_.decode(bytes, size, rgbaOut, widthOut, heightOut);
	return avDecoder_.decode(AV_CODEC_ID_MJPEG, bytes, size, {}, rgbaOut, widthOut, heightOut);
}

} // namespace kestrel
