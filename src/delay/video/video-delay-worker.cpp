#include "delay/video/video-delay-worker.h"

#include "common/log.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

namespace kestrel {

namespace {

constexpr std::chrono::milliseconds kWakePeriod{8};
// Long enough that the spike of a key frame does not count as being busy.
constexpr std::chrono::milliseconds kLoadWindow{1000};
// However many frames are dropped, the ones kept may spend at least this share of the budget.
constexpr double kLeastKeptShare = 0.25;

} // namespace

VideoDelayWorker::VideoDelayWorker(Clock now, FrameCodecOptions codecOptions, uint64_t ringCapBytes)
    : now_(now), codecOptions_(std::move(codecOptions)), ringCapBytes_(ringCapBytes)
{
}

VideoDelayWorker::~VideoDelayWorker()
{
	stop();
}

bool VideoDelayWorker::start()
{
	if (thread_.joinable())
		return true;
	{
		std::lock_guard guard(lock_);
		stopRequested_ = false;
	}
	try {
		thread_ = std::thread(&VideoDelayWorker::run, this);
	} catch (const std::system_error &) {
		return false;
	}
	return true;
}

void VideoDelayWorker::stop()
{
	{
		std::lock_guard guard(lock_);
		stopRequested_ = true;
	}
	wake_.notify_all();
	if (thread_.joinable())
		thread_.join();
}

void VideoDelayWorker::applySettings(const VideoDelaySettings &settings)
{
	std::lock_guard guard(lock_);
	settings_ = settings;
}

std::vector<uint8_t> VideoDelayWorker::takeBuffer()
{
	std::lock_guard guard(lock_);
	if (bufferPool_.empty())
		return {};
	std::vector<uint8_t> buffer = std::move(bufferPool_.back());
	bufferPool_.pop_back();
	return buffer;
}

void VideoDelayWorker::recycle(std::vector<uint8_t> &&buffer)
{
	if (bufferPool_.size() < kBufferPoolLimit)
		bufferPool_.push_back(std::move(buffer));
}

void VideoDelayWorker::submitRawFrame(RawFrame frame)
{
	{
		std::lock_guard guard(lock_);
		if (captureQueue_.size() >= kCaptureQueueLimit) {
			recycle(std::move(frame.pixels));
			workLoad_.noteDropped();
			if (++droppedFrames_ % kLagLogEvery == 1)
				KESTREL_LOG(Warning,
					    "video delay: encoder lagging, dropped %llu frame(s) — lower "
					    "Buffer FPS or "
					    "raise compression",
					    static_cast<unsigned long long>(droppedFrames_));
			return;
		}
		captureQueue_.push(std::move(frame));
	}
	wake_.notify_one();
}

bool VideoDelayWorker::takeDecodedFrame(RawFrame &display)
{
	std::lock_guard guard(lock_);
	if (decoded_.captureTimestamp == 0 || decoded_.captureTimestamp == display.captureTimestamp)
		return false;
	std::swap(display.pixels, decoded_.pixels);
	display.width = decoded_.width;
	display.height = decoded_.height;
	display.captureTimestamp = decoded_.captureTimestamp;
	return true;
}

void VideoDelayWorker::resetPipeline()
{
	std::lock_guard guard(lock_);
	ring_.clear();
	while (!captureQueue_.empty())
		recycle(std::move(captureQueue_.pop().pixels));
	decoded_.pixels.clear();
	decoded_.width = decoded_.height = 0;
	decoded_.captureTimestamp = 0;
	notBefore_ = now_();
	++resets_;
	keyFrameWanted_ = true;
}

VideoDelayWorker::Stats VideoDelayWorker::stats() const
{
	std::lock_guard guard(lock_);
	// Until the first frame tells whether libx264 opened, the budget asked for is shown.
	const bool budgeted = settings_.engine == FrameCodec::kEngineSoftwareH264 &&
			      (engineInUse_ == FrameCodec::kEngineSoftwareH264 || engineInUse_ < 0);
	return {captureQueue_.size(),
		ring_.size(),
		ring_.bytes(),
		droppedFrames_,
		encodedFrames_,
		decodedFrames_,
		decoded_.captureTimestamp,
		ring_.spanNs(),
		fitNs(),
		capLimited_,
		engineInUse_,
		budgeted ? settings_.memoryBudgetBytes : 0,
		budgeted ? targetBitRate_ : 0,
		engineInUse_ == FrameCodec::kEngineSoftwareH264 ? psnrDb_ : 0};
}

uint64_t VideoDelayWorker::budgetBitRate(const PacketRing &ring, uint64_t budgetBytes, uint64_t delayNs,
					 uint64_t now)
{
	const auto aim = static_cast<uint64_t>(static_cast<double>(budgetBytes) * kBudgetAim);
	// At least a bit a second: nothing left to spend still asks for the coarsest quantiser.
	return std::max<uint64_t>(1, ring.bitRateWithin(aim, now, delayNs + FrameCodec::kGroupSpanNs));
}

uint64_t VideoDelayWorker::targetBitRate(uint64_t now)
{
	if (settings_.engine != FrameCodec::kEngineSoftwareH264 || settings_.memoryBudgetBytes == 0)
		return 0;
	if (targetBitRate_ == 0 || now < targetWorkedOutAt_ ||
	    now - targetWorkedOutAt_ >= GroupRateControl::kMeasuredSpanNs) {
		// Frames dropped for lack of time leave their share unspent: spent on the frames kept, it
		// would make each of them dearer to encode and drop more.
		const auto encoded = static_cast<double>(encodedFrames_ - encodedAtTarget_ + 1);
		const auto dropped = static_cast<double>(droppedFrames_ - droppedAtTarget_);
		const double kept = std::max(kLeastKeptShare, encoded / (encoded + dropped));
		const uint64_t budgetRate =
		    budgetBitRate(ring_, settings_.memoryBudgetBytes, settings_.delayNs, now);
		targetBitRate_ = std::max<uint64_t>(
		    1, static_cast<uint64_t>(static_cast<double>(budgetRate) * kept * workLoad_.share()));
		targetWorkedOutAt_ = now;
		encodedAtTarget_ = encodedFrames_;
		droppedAtTarget_ = droppedFrames_;
	}
	return targetBitRate_;
}

uint64_t VideoDelayWorker::fitNs() const
{
	if (ring_.bytes() == 0)
		return 0;
	return static_cast<uint64_t>(static_cast<double>(ring_.spanNs()) *
				     static_cast<double>(ringCapBytes_) / static_cast<double>(ring_.bytes()));
}

void VideoDelayWorker::run()
{
	FrameCodec codec(codecOptions_);
	std::unique_lock lock(lock_);
	while (!stopRequested_) {
		wake_.wait_for(lock, kWakePeriod,
			       [this] { return stopRequested_ || !captureQueue_.empty(); });
		if (stopRequested_)
			break;
		encodeNext(lock, codec);
		const uint64_t now = now_();
		expireAndCap(now);
		decodeDue(lock, codec, now);
		if (std::chrono::steady_clock::now() - loadWindowStart_ >= kLoadWindow)
			closeLoadWindow();
	}
}

// Made ready while encoding, where there is time to spare: the first touch of fresh memory for
// the first decoded images took longer than the queue's slack once decoding began.
void VideoDelayWorker::prepareDecodeBuffers(size_t bytes)
{
	for (std::vector<uint8_t> *buffer : {&decodeOutput_, &decodeSpare_})
		if (buffer->size() != bytes)
			buffer->resize(bytes);
}

uint64_t VideoDelayWorker::nsSince(std::chrono::steady_clock::time_point began)
{
	return static_cast<uint64_t>(
	    std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - began)
		.count());
}

// Asking for fewer bits only matters where a budget sets the bit rate: other engines start
// afresh when they switch to one. A change is said once.
void VideoDelayWorker::closeLoadWindow()
{
	const auto now = std::chrono::steady_clock::now();
	const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - loadWindowStart_);
	loadWindowStart_ = now;
	if (settings_.engine != FrameCodec::kEngineSoftwareH264 || settings_.memoryBudgetBytes == 0) {
		workLoad_ = {};
		return;
	}
	if (!workLoad_.closeWindow(static_cast<uint64_t>(elapsed.count())))
		return;
	if (workLoad_.share() < 1)
		KESTREL_LOG(Warning,
			    "video delay: encoding and decoding every frame would take %.0f%% of the "
			    "time — asking for fewer bits to keep up",
			    workLoad_.load() * 100);
	else
		KESTREL_LOG(Info, "video delay: the encoder has time to spare again");
}

void VideoDelayWorker::encodeNext(std::unique_lock<std::mutex> &lock, FrameCodec &codec)
{
	if (captureQueue_.empty())
		return;
	RawFrame frame = captureQueue_.pop();
	const VideoDelaySettings settings = settings_;
	if (keyFrameWanted_)
		codec.requestKeyFrame();
	keyFrameWanted_ = false;
	codec.setTargetBitRate(targetBitRate(now_()));
	lock.unlock();
	// A frame shorter than its stated size is refused rather than read past its end.
	const bool complete = frame.pixels.size() >= size_t{frame.width} * frame.height * 4;
	std::vector<uint8_t> packet;
	uint64_t packetTimestamp = 0;
	const auto began = std::chrono::steady_clock::now();
	const bool encoded = complete && codec.encode(frame.pixels.data(), frame.width, frame.height,
						      settings.quality, settings.full444, settings.engine,
						      frame.captureTimestamp, packet, packetTimestamp);
	const uint64_t encodeNs = nsSince(began);
	if (complete)
		prepareDecodeBuffers(frame.pixels.size());
	lock.lock();
	workLoad_.noteEncode(encodeNs);
	recycle(std::move(frame.pixels));
	if (!encoded) {
		if (!encodeFailedLogged_) {
			encodeFailedLogged_ = true;
			KESTREL_LOG(Error, "video delay: encode failed (%ux%u) — showing live video",
				    frame.width, frame.height);
		}
		return;
	}
	encodeFailedLogged_ = false;
	++encodedFrames_;
	engineInUse_ = codec.engineInUse();
	psnrDb_ = codec.measuredPsnr();
	if (packet.empty() || packetTimestamp < notBefore_)
		return;
	if (ring_.empty())
		KESTREL_LOG(Info,
			    "video delay (compressed): buffering started @ %ux%u via %s (%.0f KB/frame)",
			    frame.width, frame.height, codec.encoderName().c_str(),
			    static_cast<double>(packet.size()) / 1024.0);
	ring_.push({std::move(packet), packetTimestamp, codec.lastPacketIsKeyFrame()});
}

void VideoDelayWorker::expireAndCap(uint64_t now)
{
	ring_.expire(now, settings_.delayNs);
	if (ring_.dropOldestGroupsOver(ringCapBytes_) > 0) {
		if (!capLogged_) {
			capLogged_ = true;
			KESTREL_LOG(Warning, "video delay: ring hit the 1.5 GB cap — dropping oldest "
					     "frames (lower quality/FPS)");
		}
		noteCapLimit(true);
	} else if (ring_.frontIsDue(now, settings_.delayNs)) {
		noteCapLimit(false);
	}
}

// The cap must not shorten the delay unnoticed: say how much of it fits, once per change.
void VideoDelayWorker::noteCapLimit(bool limited)
{
	if (limited == capLimited_)
		return;
	capLimited_ = limited;
	const double delaySeconds = static_cast<double>(settings_.delayNs) / 1e9;
	if (limited)
		KESTREL_LOG(Warning,
			    "video delay: only %.1f s of the %.1f s delay fit in %.0f MB at %.0f KB/frame — "
			    "the picture runs ahead of the sound (lower quality/FPS or use H.264 (CPU))",
			    static_cast<double>(ring_.spanNs()) / 1e9, delaySeconds,
			    static_cast<double>(ringCapBytes_) / (1 << 20),
			    static_cast<double>(ring_.bytes()) / 1024.0 / static_cast<double>(ring_.size()));
	else
		KESTREL_LOG(Info, "video delay: the ring holds the whole %.1f s delay again", delaySeconds);
}

void VideoDelayWorker::decodeDue(std::unique_lock<std::mutex> &lock, FrameCodec &codec, uint64_t now)
{
	while (const RingPacket *packet = ring_.nextDue(now, settings_.delayNs)) {
		decodeInput_.assign(packet->bytes.begin(), packet->bytes.end());
		const uint64_t timestamp = packet->timestamp;
		const uint64_t resets = resets_;
		lock.unlock();
		uint32_t width = 0, height = 0;
		const auto began = std::chrono::steady_clock::now();
		const bool decoded =
		    codec.decode(decodeInput_.data(), decodeInput_.size(), decodeOutput_, width, height);
		const uint64_t decodeNs = nsSince(began);
		lock.lock();
		workLoad_.noteDecode(decodeNs);
		if (resets != resets_)
			return;
		if (!decoded) {
			ring_.markFailed();
			return;
		}
		ring_.markDecoded();
		std::swap(decoded_.pixels, decodeOutput_);
		// The shown image's buffer came back empty: the next image goes to the spare one.
		if (decodeOutput_.size() != decoded_.pixels.size())
			std::swap(decodeOutput_, decodeSpare_);
		decoded_.width = width;
		decoded_.height = height;
		decoded_.captureTimestamp = timestamp;
		++decodedFrames_;
		// Frames waiting to be encoded come first; the next pass carries on from here.
		if (!captureQueue_.empty())
			return;
	}
}

} // namespace kestrel
